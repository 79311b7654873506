#include "world/runner.h"

int main(int argc, char** argv) { return WinMain(argc, argv); }
