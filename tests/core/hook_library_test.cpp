// Loading the hook library, sharing it between components, and handing the library's callback
// from one mode to the next.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hook/hook_library.h"
#include "hook_test_support.h"

namespace korv::hook_test {
namespace {

using Calls = std::vector<std::string>;

TEST_F(HookFixture, LoadsTheLibraryFromTheExecutableFolderOnly) {
    EXPECT_TRUE(hook->DLLLoaded());
    EXPECT_EQ(loader.requested, std::vector<std::u16string>{kLibraryPath});
    EXPECT_TRUE(message_boxes.shown.empty());
    EXPECT_EQ(library.calls, Calls{"load"});
}

struct MissingLibraryCase {
    const char* what;
    std::u16string executable_folder;
    fake::FakeLibraryLoader::Refusal refusal;
    std::vector<std::u16string> requested;
    std::u16string trace;
};

// Whatever keeps the library from loading, the user gets the same box; the trace line says why.
TEST(HookLibraryLoading, MissingLibraryShowsTheMessageOnceAndLeavesTheComponentInert) {
    const MissingLibraryCase cases[] = {
        {"no library in the folder",
         u"D:\\Elsewhere\\",
         {},
         {u"D:\\Elsewhere\\uiHook.dll"},
         u"Hook library D:\\Elsewhere\\uiHook.dll not loaded: there is no such file (error 2); "
         u"keyboard and mouse hooks are off"},
        {"not a library",
         u"D:\\Elsewhere\\",
         {LibraryLoadFailure::NotALibrary, 193},
         {u"D:\\Elsewhere\\uiHook.dll"},
         u"Hook library D:\\Elsewhere\\uiHook.dll not loaded: the file is not a library of this "
         u"system (error 193); keyboard and mouse hooks are off"},
        {"its start-up code fails",
         u"D:\\Elsewhere\\",
         {LibraryLoadFailure::InitialisationFailed, 1114},
         {u"D:\\Elsewhere\\uiHook.dll"},
         u"Hook library D:\\Elsewhere\\uiHook.dll not loaded: its start-up code failed (error "
         u"1114); keyboard and mouse hooks are off"},
        // Without a folder the bare name would go through the search order: nothing is tried.
        {"folder unknown",
         u"",
         {},
         {},
         u"Hook library not loaded: the program's folder is unknown; keyboard and mouse hooks are "
         u"off"},
    };
    for (const MissingLibraryCase& c : cases) {
        SCOPED_TRACE(c.what);
        fake::FakeHookLibrary library;
        fake::MemoryFileSystem files(c.executable_folder);
        fake::FakeLibraryLoader loader(library, kLibraryPath);
        loader.refusal = c.refusal;
        fake::RecordingMessageBoxes message_boxes;
        fake::FakeKeyboardState keyboard;
        fake::RecordingDebugOutput debug;
        {
            TuiHook hook({files, &loader, message_boxes, keyboard, debug});
            EXPECT_FALSE(hook.DLLLoaded());
            EXPECT_EQ(loader.requested, c.requested);
            ASSERT_EQ(message_boxes.shown.size(), 1u);
            EXPECT_EQ(message_boxes.shown[0].text, u"uiHook.dll can not be found!");
            EXPECT_EQ(message_boxes.shown[0].caption, u"Error");
            EXPECT_EQ(debug.lines, std::vector<std::u16string>{c.trace});
            hook.StartHookKeyboard();
            hook.RecordMouseMacro();
            hook.StopRecordMouseMacro();
        }
        EXPECT_TRUE(library.calls.empty());
        EXPECT_EQ(message_boxes.shown.size(), 1u);
    }
}

// No box for a library without its entry points, but a trace line naming the first one missing.
TEST(HookLibraryLoading, MissingExportUnloadsWithoutABoxAndLeavesTheComponentInert) {
    for (const char* missing : {kEnableKeyboardHookExport, kDisableKeyboardHookExport,
                                kEnableMouseHookExport, kDisableMouseHookExport}) {
        SCOPED_TRACE(missing);
        fake::FakeHookLibrary library;
        library.missing_exports = {missing};
        fake::MemoryFileSystem files(kFolder);
        fake::FakeLibraryLoader loader(library, kLibraryPath);
        fake::RecordingMessageBoxes message_boxes;
        fake::FakeKeyboardState keyboard;
        fake::RecordingDebugOutput debug;
        TuiHook hook({files, &loader, message_boxes, keyboard, debug});
        EXPECT_FALSE(hook.DLLLoaded());
        EXPECT_TRUE(message_boxes.shown.empty());
        ASSERT_EQ(debug.lines.size(), 1u);
        EXPECT_EQ(debug.lines[0], u"Hook library " + std::u16string(kLibraryPath) +
                                      u" not used: it has no entry point " +
                                      std::u16string(missing, missing + std::strlen(missing)) +
                                      u"; keyboard and mouse hooks are off");
        hook.StartHookKeyboard();
        hook.StartHookMouse();
        EXPECT_EQ(library.calls, (Calls{"load", "unload"}));
        EXPECT_FALSE(HookLibraryEntries().has_value());
    }
}

TEST_F(HookFixture, SecondComponentSharesTheLoadedLibrary) {
    {
        TuiHook second(services);
        EXPECT_TRUE(second.DLLLoaded());
        EXPECT_EQ(loader.requested.size(), 1u);
    }
    // Destroying any component unloads the library under the others; they then do nothing.
    EXPECT_FALSE(library.loaded);
    library.calls.clear();
    hook->StartHookKeyboard();
    hook->RecordMouseMacro();
    EXPECT_TRUE(library.calls.empty());
}

TEST_F(HookFixture, DestructionDisablesBothHooksBeforeUnloading) {
    hook->RecordKeyboardMacroKey();
    hook->RecordMouseMacro();
    library.calls.clear();
    hook.reset();
    EXPECT_EQ(library.calls, (Calls{"DisableKeyboardHook", "DisableMouseHook", "unload"}));
    EXPECT_FALSE(library.hook_installed_at_unload);
}

TEST_F(HookFixture, EachStartReplacesTheCallbackOfItsKind) {
    struct Case {
        const char* what;
        void (TuiHook::*operation)();
        Calls calls;
    };
    const Case cases[] = {
        {"StartHookKeyboard",
         &TuiHook::StartHookKeyboard,
         {"DisableKeyboardHook", "EnableKeyboardHook"}},
        {"StopHookKeyboard", &TuiHook::StopHookKeyboard, {"DisableKeyboardHook"}},
        {"StartHookMouse", &TuiHook::StartHookMouse, {"DisableMouseHook", "EnableMouseHook"}},
        {"StopHookMouse", &TuiHook::StopHookMouse, {"DisableMouseHook"}},
        {"RecordKeyboardSingleKey",
         &TuiHook::RecordKeyboardSingleKey,
         {"DisableKeyboardHook", "EnableKeyboardHook"}},
        {"RecordKeyboardComboKey",
         &TuiHook::RecordKeyboardComboKey,
         {"DisableKeyboardHook", "EnableKeyboardHook"}},
        {"RecordKeyboardMacroKey",
         &TuiHook::RecordKeyboardMacroKey,
         {"DisableKeyboardHook", "EnableKeyboardHook"}},
        {"RecordKeyboardMacroKeyEx",
         &TuiHook::RecordKeyboardMacroKeyEx,
         {"DisableKeyboardHook", "EnableKeyboardHook"}},
        {"StopRecordKeyboardMacroKey",
         &TuiHook::StopRecordKeyboardMacroKey,
         {"DisableKeyboardHook"}},
        {"RecordMouseMacro", &TuiHook::RecordMouseMacro, {"DisableMouseHook", "EnableMouseHook"}},
        {"StopRecordMouseMacro", &TuiHook::StopRecordMouseMacro, {"DisableMouseHook"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        library.calls.clear();
        (hook.get()->*c.operation)();
        EXPECT_EQ(library.calls, c.calls);
    }
}

TEST_F(HookFixture, StartingTheMouseHookModeEndsAMouseMacroRecording) {
    int recorded = 0;
    std::vector<TMouseButtons> hooked;
    hook->OnRecordMouseMacroKey = [&](const auto&...) { ++recorded; };
    hook->OnHookMouseAllButton = [&](TMouseButtons button, const auto&...) {
        hooked.push_back(button);
    };
    hook->RecordMouseMacro();
    library.SendMouse(kWmLButtonDown, Mouse(1, 2, 1000));
    hook->StartHookMouse();
    library.SendMouse(kWmRButtonDown, Mouse(1, 2, 1100));
    EXPECT_EQ(recorded, 1);
    EXPECT_EQ(hooked, std::vector<TMouseButtons>{TMouseButtons::RCLICK});
}

}  // namespace
}  // namespace korv::hook_test
