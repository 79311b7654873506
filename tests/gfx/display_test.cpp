// Display adapters and modes on the recording device and a scripted desktop: the adapter table, the choice
// of the best mode, the display_* values, mode requests that never change the desktop, and the cursor.
#include "gfx/display.h"

#include "core/console.h"
#include "fake_render_device.h"
#include "platform/platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace display_test {

class GfxDisplay : public testing::Test {
protected:
    void SetUp() override
    {
        oldConsole_ = DebugConsole;
        DebugConsole = &console_;
        Display_FreeAdapters();
    }
    void TearDown() override
    {
        Display_FreeAdapters();
        Platform_SetFocusSource(nullptr);
        DebugConsole = oldConsole_;
    }

    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installedDevice_{&device_};
    kvtest::FakeDisplaySource desktop_;
    kvtest::ScopedDisplaySource installedDesktop_{&desktop_};
    kvtest::RecordingConsole console_;
    tagIConsole* oldConsole_ = nullptr;
};

// ---- the best mode -------------------------------------------------------------------------------------

// A first adapter with exactly these modes, owned by the test.
class InjectedModes {
public:
    explicit InjectedModes(std::vector<DisplayMode> modes) : modes_(std::move(modes))
    {
        record_.modes = modes_.data();
        record_.modeCount = int32_t(modes_.size());
        GR_AdapterTable = &record_;
        GR_AdapterCount = 1;
    }
    ~InjectedModes()
    {
        GR_AdapterTable = nullptr;
        GR_AdapterCount = 0;
    }
    int32_t IndexOf(const DisplayMode* mode) const { return mode ? int32_t(mode - modes_.data()) : -1; }

private:
    std::vector<DisplayMode> modes_;
    AdapterRecord record_{};
};

DisplayMode Mode(int16_t width, int16_t height, uint8_t bits = 32, uint8_t rate = 60)
{
    return {width, height, bits, rate, 0, 0};
}

TEST_F(GfxDisplay, FindBestModePicksByHeightThenByArea)
{
    struct Row {
        const char* name;
        std::vector<DisplayMode> modes;
        int32_t width, height;
        int32_t best;  // index in modes, -1 none
    };
    const Row rows[] = {
        {"exact fit", {Mode(1024, 768), Mode(800, 600)}, 800, 600, 1},
        // The height search takes every lower mode that is still high enough, wide enough or not.
        {"too narrow still wins on height", {Mode(1024, 768), Mode(800, 600)}, 810, 600, 1},
        {"the last high-enough mode seen", {Mode(800, 600), Mode(1024, 768)}, 810, 600, 1},
        {"a fit is kept against a taller mode", {Mode(800, 600), Mode(1024, 768)}, 800, 600, 0},
        {"smallest excess",
         {Mode(640, 480), Mode(1280, 1024), Mode(1024, 768), Mode(800, 600)}, 700, 500, 3},
        // Nothing is high enough: the closest area.
        {"area", {Mode(640, 480), Mode(1600, 1200), Mode(1280, 1024)}, 2000, 1500, 1},
        {"equal area: 32 bits replaces 16", {Mode(1600, 1200, 16), Mode(1600, 1200, 32)}, 2000, 1500, 1},
        {"equal area: 16 bits does not replace 32", {Mode(1600, 1200, 32), Mode(1600, 1200, 16)}, 2000, 1500, 0},
        {"equal area: closer to 60 Hz",
         {Mode(1600, 1200, 32, 75), Mode(1600, 1200, 32, 60), Mode(1600, 1200, 32, 59)}, 2000, 1500, 1},
        {"equal area and rate distance: the first", {Mode(1600, 1200, 32, 70), Mode(1600, 1200, 32, 50)}, 2000, 1500, 0},
        {"rates do not decide between 16-bit modes", {Mode(1600, 1200, 16, 75), Mode(1600, 1200, 16, 60)}, 2000, 1500, 0},
        {"empty list", {}, 800, 600, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        InjectedModes injected(row.modes);
        EXPECT_EQ(injected.IndexOf(Display_FindBestMode(row.width, row.height)), row.best);
    }
    EXPECT_EQ(Display_FindBestMode(800, 600), nullptr) << "no adapter";
}

// ---- the adapter table ---------------------------------------------------------------------------------

// Adapter 1 renders in software and gets no record; adapter 2 is a subordinate of adapter 0's group.
TEST_F(GfxDisplay, EnumModesKeepsHardwareAdaptersAndTheirDisplayModes)
{
    kvtest::FakeAdapter first = kvtest::FakeRenderDevice::DefaultAdapter();
    std::snprintf(first.identifier.description, sizeof first.identifier.description, "Renderer A");
    std::snprintf(first.identifier.deviceName, sizeof first.identifier.deviceName, "Écran 0");
    first.modes = {
        {1024, 768, 60, RDFMT_X8R8G8B8}, {800, 600, 75, RDFMT_R5G6B5}, {800, 600, 60, RDFMT_X8R8G8B8},
        {640, 480, 60, RDFMT_D24S8},     {320, 240, 60, RDFMT_A8R8G8B8},
    };
    kvtest::FakeAdapter software = first;
    software.caps.deviceType = 2;
    kvtest::FakeAdapter subordinate = kvtest::FakeRenderDevice::DefaultAdapter();
    subordinate.caps.numberOfAdaptersInGroup = 0;
    subordinate.caps.masterAdapterOrdinal = 0;
    subordinate.modes = {{1280, 1024, 75, RDFMT_X8R8G8B8}};
    device_.adapters = {first, software, subordinate};
    desktop_.displays.resize(3);
    desktop_.displays[2].x = 1024;
    desktop_.displays[2].y = -200;
    desktop_.displays[2].current = {1280, 1024, 32, 75, false};

    Display_EnumModes();
    ASSERT_EQ(GR_AdapterCount, 2);
    const AdapterRecord& a = GR_AdapterTable[0];
    const AdapterRecord& b = GR_AdapterTable[1];
    EXPECT_EQ(a.adapterOrdinal, 0);
    EXPECT_STREQ(a.description, "Renderer A");
    EXPECT_STREQ(a.deviceName, "Écran 0");
    EXPECT_EQ(std::u16string(a.deviceNameWide), u"Écran 0");
    EXPECT_EQ(a.caps.rasterCaps, first.caps.rasterCaps);
    EXPECT_EQ(a.flags, 0u);
    EXPECT_EQ(a.adaptersInGroup, 1);
    // 32-bit modes first, then 16-bit ones; other formats are left out. The mode number counts within a format.
    ASSERT_EQ(a.modeCount, 3);
    struct Expected {
        int16_t width, height;
        uint8_t bits, rate;
        uint16_t number;
    };
    const Expected modes[] = {{1024, 768, 32, 60, 0}, {800, 600, 32, 60, 1}, {800, 600, 16, 75, 0}};
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.modes[i].width, modes[i].width);
        EXPECT_EQ(a.modes[i].height, modes[i].height);
        EXPECT_EQ(a.modes[i].bitsPerPixel, modes[i].bits);
        EXPECT_EQ(a.modes[i].refreshRate, modes[i].rate);
        EXPECT_EQ(a.modes[i].modeNumber, modes[i].number);
        EXPECT_EQ(a.modes[i].adapterOrdinal, 0);
    }

    EXPECT_EQ(b.adapterOrdinal, 2);
    EXPECT_EQ(b.flags, ADAPTER_SUBORDINATE);
    EXPECT_EQ(b.masterOrdinal, 0);
    EXPECT_EQ(b.master, &a);
    EXPECT_EQ(a.nextSubordinate, &b);
    EXPECT_EQ(b.nextSubordinate, nullptr);
    EXPECT_EQ(b.x, 1024);
    EXPECT_EQ(b.y, -200);
    EXPECT_EQ(b.width, 1280);
    EXPECT_EQ(b.frequency, 75);
    ASSERT_EQ(b.modeCount, 1);
    EXPECT_EQ(b.modes[0].adapterOrdinal, 2);

    // The best mode comes from the first record.
    const DisplayMode* best = Display_FindBestMode(800, 600);
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(best, &a.modes[1]);

    // A second enumeration starts afresh.
    device_.adapters = {subordinate};
    Display_EnumModes();
    ASSERT_EQ(GR_AdapterCount, 1);
    EXPECT_EQ(GR_AdapterTable[0].master, nullptr);
}

TEST_F(GfxDisplay, EachRecordTakesItsDisplaysCurrentModeOrTheDefaults)
{
    struct Row {
        const char* name;
        bool readable;
        PlatformDisplayMode current;
        int32_t width, height, bits, frequency;
        uint32_t flags;
    };
    const Row rows[] = {
        {"landscape", true, {1920, 1080, 32, 60, false}, 1920, 1080, 32, 60, 0},
        {"portrait", true, {768, 1024, 16, 75, false}, 768, 1024, 16, 75, ADAPTER_PORTRAIT},
        {"unknown rate", true, {1024, 768, 32, 0, false}, 1024, 768, 32, 0, 0},
        {"unreadable", false, {1920, 1080, 32, 60, false}, 640, 480, 8, 60, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        desktop_.displays[0].currentModeReadable = row.readable;
        desktop_.displays[0].current = row.current;
        Display_EnumModes();
        ASSERT_EQ(GR_AdapterCount, 1);
        const AdapterRecord& r = GR_AdapterTable[0];
        EXPECT_EQ(r.width, row.width);
        EXPECT_EQ(r.height, row.height);
        EXPECT_EQ(r.bitsPerPixel, row.bits);
        EXPECT_EQ(r.frequency, row.frequency);
        EXPECT_EQ(r.interlaced, 0);
        EXPECT_EQ(r.flags, row.flags);
    }
}

TEST_F(GfxDisplay, NoAdaptersGiveAnEmptyTable)
{
    device_.adapters.clear();
    Display_EnumModes();
    EXPECT_EQ(GR_AdapterCount, 0);
    EXPECT_EQ(Display_FindBestMode(640, 480), nullptr);
}

// ---- the primary display -------------------------------------------------------------------------------

TEST_F(GfxDisplay, ThePrimaryDisplaysSizeDepthAndRate)
{
    struct Row {
        const char* name;
        bool readable;
        PlatformDisplayMode current;
        int32_t width, height, frequency, depth;
    };
    const Row rows[] = {
        {"readable", true, {1600, 900, 32, 75, false}, 1600, 900, 75, 32},
        {"16 bits", true, {1600, 900, 16, 60, false}, 1600, 900, 60, 16},
        {"unknown rate", true, {1600, 900, 32, 0, false}, 1600, 900, -1, 32},
        {"unreadable settings", false, {1600, 900, 32, 60, false}, 1600, 900, -1, -1},
    };
    desktop_.displays.resize(2);
    desktop_.displays[1].current = {2560, 1440, 32, 144, false};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        desktop_.displays[0].currentModeReadable = row.readable;
        desktop_.displays[0].current = row.current;
        EXPECT_EQ(Display_GetWidth(), row.width);
        EXPECT_EQ(Display_GetHeight(), row.height);
        EXPECT_EQ(Display_GetFrequency(), row.frequency);
        EXPECT_EQ(Display_GetColourDepth(), row.depth);
        EXPECT_EQ(Display_GetOrientation(), 0);
    }
    desktop_.displays.clear();
    EXPECT_EQ(Display_GetWidth(), 0);
    EXPECT_EQ(Display_GetFrequency(), -1);
}

// ---- mode requests -------------------------------------------------------------------------------------

std::string Refusal(int32_t width, int32_t height, int32_t frequency, int32_t bits)
{
    return "Display mode change refused (" + std::to_string(width) + ", " + std::to_string(height) + ", " +
           std::to_string(frequency) + " Hz, " + std::to_string(bits) + " bits): only the current mode can be set\n";
}

TEST_F(GfxDisplay, ModeRequestsSucceedOnlyForTheCurrentMode)
{
    struct Row {
        const char* name;
        bool (*request)();
        bool granted;
        std::string logged;
    };
    const Row rows[] = {
        {"size", [] { return Display_SetSize(1024, 768); }, true, ""},
        {"other size", [] { return Display_SetSize(800, 600); }, false, Refusal(800, 600, 0, 0)},
        {"height only", [] { return Display_SetSize(0, 768); }, true, ""},
        {"other width only", [] { return Display_SetSize(1280, -1); }, false, Refusal(1280, -1, 0, 0)},
        {"rate", [] { return Display_SetFrequency(60); }, true, ""},
        {"other rate", [] { return Display_SetFrequency(75); }, false, Refusal(0, 0, 75, 0)},
        {"depth", [] { return Display_SetColourDepth(32); }, true, ""},
        {"other depth", [] { return Display_SetColourDepth(16); }, false, Refusal(0, 0, 0, 16)},
        {"all", [] { return Display_SetAll(1024, 768, 60, 32); }, true, ""},
        {"nothing asked", [] { return Display_SetAll(-1, -1, -1, -1); }, true, ""},
        {"all but the depth", [] { return Display_SetAll(1024, 768, 60, 16); }, false, Refusal(1024, 768, 60, 16)},
        {"test of the current mode", [] { return Display_TestAll(1024, 768, 60, 32); }, true, ""},
        {"test of another mode", [] { return Display_TestAll(800, 600, 60, 32); }, false, ""},
    };
    desktop_.displays[0].current = {1024, 768, 32, 60, false};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Display_FreeAdapters();
        console_.text.clear();
        EXPECT_EQ(row.request(), row.granted);
        EXPECT_EQ(console_.text, row.logged);
        EXPECT_EQ(desktop_.displays[0].current.width, 1024);
    }
}

TEST_F(GfxDisplay, ARefusalIsLoggedOnce)
{
    desktop_.displays[0].current = {1024, 768, 32, 60, false};
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Display_SetSize(800, 600));
    EXPECT_FALSE(Display_SetAll(800, 600, 0, 0)) << "the same request by another setter";
    EXPECT_EQ(console_.text, Refusal(800, 600, 0, 0));
    EXPECT_FALSE(Display_SetSize(640, 480));
    EXPECT_FALSE(Display_SetSize(800, 600));
    EXPECT_EQ(console_.text, Refusal(800, 600, 0, 0) + Refusal(640, 480, 0, 0) + Refusal(800, 600, 0, 0));
}

TEST_F(GfxDisplay, UnknownSettingsGrantNoRequest)
{
    desktop_.displays[0].current = {1024, 768, 32, 0, false};
    EXPECT_FALSE(Display_SetFrequency(60)) << "an unknown rate matches none";
    EXPECT_TRUE(Display_SetSize(1024, 768));
    desktop_.displays[0].currentModeReadable = false;
    EXPECT_FALSE(Display_SetSize(1024, 768));
    EXPECT_FALSE(Display_TestAll(1024, 768, 0, 0));
}

// ---- the cursor ----------------------------------------------------------------------------------------

TEST_F(GfxDisplay, TheCursorMovesOnlyWhileTheWindowHasTheFocus)
{
    desktop_.cursorX = 300;
    desktop_.cursorY = -20;
    EXPECT_EQ(Display_GetMouseX(), 300);
    EXPECT_EQ(Display_GetMouseY(), -20);

    static bool focused;
    Platform_SetFocusSource([] { return focused; });
    focused = false;
    Display_SetMouse(5, 6);
    EXPECT_TRUE(desktop_.cursorMoves.empty());
    focused = true;
    Display_SetMouse(5, 6);
    EXPECT_EQ(desktop_.cursorMoves, (std::vector<std::pair<int32_t, int32_t>>{{5, 6}}));
    EXPECT_EQ(Display_GetMouseX(), 5);

    desktop_.cursorReadable = false;
    EXPECT_EQ(Display_GetMouseX(), 0);
    EXPECT_EQ(Display_GetMouseY(), 0);
}

}  // namespace display_test
