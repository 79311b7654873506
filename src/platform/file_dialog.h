// The file choosers (zenity's, a program of its own) and the runner the other text dialogs share.
#pragma once
#include "core/memory_manager.h"

#include <string>
#include <vector>

using DialogString = std::basic_string<char, std::char_traits<char>, MemAllocator<char>>;
using DialogArguments = std::vector<DialogString, MemAllocator<DialogString>>;

// The first executable "zenity" along PATH; empty when there is none.
DialogString Platform_FindZenity();
enum class ZenityRun { Answered, Closed, NotStarted };
// Runs program with arguments (argv[0] "zenity" comes first on its own; never through a shell) and
// collects what it prints; Answered when it exited with status 0.
ZenityRun Platform_RunZenity(const DialogString& program, const DialogArguments& arguments, DialogString* printed);

// The open and save dialogs of the file-name built-ins. Any argument may be null. The filter is pairs of
// description and patterns, all separated by "|" ("Images|*.png;*.jpg|All|*.*"); the directory and the
// default name give the proposed file. The chosen path (UTF-8) stays valid until the next dialog; null
// when the dialog was cancelled, refused or could not be shown.
const char* ShowOpenFileDialog(const char* filter, const char* defaultName, const char* directory, const char* title);
const char* ShowSaveFileDialog(const char* filter, const char* defaultName, const char* directory, const char* title);

// What the save dialog adds to a name typed without one: the text after the first "." that follows the first
// "|", up to the next ";", "|", blank or the end. Empty when there is none, or when it is a wildcard.
DialogString FileDialog_DefaultExtension(const char* filter);
// The chooser's arguments for that dialog.
DialogArguments FileDialog_Arguments(bool save, const char* filter, const char* defaultName, const char* directory,
                                     const char* title);
