// The objects that belong to the main thread stop a debug build at a call from another thread.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "app/report_dispatch.h"
#include "app/settings_file.h"
#include "lang/translation_engine.h"
#include "platform/fake/fake_config_peer.h"
#include "platform/fake/fake_data_module_ports.h"
#include "platform/fake/fake_main_loop.h"

namespace korv {
namespace {

#ifndef NDEBUG

class ThreadAffinityDeathTest : public ::testing::Test, protected fake::FakeDataModulePorts {
  protected:
    ThreadAffinityDeathTest() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    static void OnAnotherThread(const std::function<void()>& call) { std::thread(call).join(); }

    fake::FakeConfigPeer peer_;
    fake::FakeMainLoop loop_;
    fake::FakeMicrophone microphone_;
};

TEST_F(ThreadAffinityDeathTest, MainThreadObjectsRefuseOtherThreads) {
    const auto dm = LoadDataModule(Ports());
    ReportDispatcher dispatcher({peer_, loop_, registry, microphone_, debug}, *dm);
    static_cast<void>(TranslateText(u"Exit"));  // the engine belongs to this thread now
    const std::uint8_t report[7] = {0x10};
    const struct {
        const char* what;
        std::function<void()> call;
    } cases[] = {
        {"data module", [&] { static_cast<void>(dm->SwitchToProfile(1)); }},
        {"report dispatcher", [&] { dispatcher.uiHIDData1Data(u"", u"", 7, report, 7); }},
        {"translation engine", [] { static_cast<void>(TranslateText(u"Exit")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DEATH(OnAnotherThread(c.call), "does not own");
        c.call();  // the owner thread may
    }
}

#endif

}  // namespace
}  // namespace korv
