// The microphone against a private PulseAudio, as pactl sees it: presses that mute and unmute
// the default source, a change of default followed, a server without sources, a server that dies
// and comes back, changes made by another program, and no wake-ups while nothing happens; and
// the sound library loaded at run time, or missing.

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_system.h"
#include "platform/linux/linux_main_loop.h"
#include "platform/linux/linux_microphone.h"
#include "platform/linux/pulse_library.h"
#include "tests/linux/private_pulse_server.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using testing::PrivatePulseServer;

// Voluntary context switches of the calling thread: each sleep of the loop is one.
long WakeUpsOfThisThread() {
    std::ifstream status("/proc/thread-self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("voluntary_ctxt_switches:"))
            return std::stol(line.substr(line.find(':') + 1));
    }
    return -1;
}

long ThreadsOfThisProcess() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Threads:"))
            return std::stol(line.substr(line.find(':') + 1));
    }
    return -1;
}

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

class MicrophoneOnPulse : public ::testing::Test {
  protected:
    MicrophoneOnPulse() {
        microphone_.SetFailureListener(
            [this](std::u16string_view reason) { failures_.emplace_back(reason); });
    }

    // Runs the loop until `done` holds (looked at every 5 ms) or the time is up.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_ptr<OneShotTimer> check;
        check = loop_.CreateTimer([&] {
            if (done() || std::chrono::steady_clock::now() > end)
                loop_.Quit(0);
            else
                check->Start(5ms);
        });
        check->Start(0ms);
        loop_.Run();
        return done();
    }
    // Runs the loop for a while with nothing to look at in between.
    void RunFor(std::chrono::milliseconds time) {
        const auto stop = loop_.CreateTimer([&] { loop_.Quit(0); });
        stop->Start(time);
        loop_.Run();
    }

    void StartConnected(const std::vector<std::string>& modules) {
        ASSERT_TRUE(server_.Start(modules)) << "pulseaudio did not start";
        microphone_.Prepare();
        ASSERT_TRUE(RunUntil([&] { return microphone_.Connected(); }));
    }

    std::vector<std::u16string> TracesAfter(std::size_t first) const {
        return {debug_.lines.begin() + static_cast<std::ptrdiff_t>(first), debug_.lines.end()};
    }

    PrivatePulseServer server_;
    LinuxMainLoop loop_;
    fake::RecordingDebugOutput debug_;
    LinuxMicrophone microphone_{loop_, debug_, "korv-test", server_.Server()};
    std::vector<std::u16string> failures_;  // what the failure listener heard
};

TEST_F(MicrophoneOnPulse, PressesMuteAndUnmuteTheDefaultSourceAsPactlSeesIt) {
    StartConnected(PrivatePulseServer::WithMicrophone());
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted().has_value(); }));
    ASSERT_EQ(server_.SourceMute(), "no");
    for (const bool expected : {true, false, true}) {
        const std::size_t traced = debug_.lines.size();
        microphone_.ToggleMute();
        EXPECT_TRUE(RunUntil([&] { return microphone_.Muted() == expected; }));
        EXPECT_EQ(server_.SourceMute(), expected ? "yes" : "no");
        const std::vector<std::u16string> traces = TracesAfter(traced);
        ASSERT_EQ(traces.size(), 1u);
        const std::u16string& line = traces.front();
        EXPECT_TRUE(line.starts_with(u"Microphone \"")) << std::string(line.begin(), line.end());
        EXPECT_TRUE(line.ends_with(expected ? u"\" muted" : u"\" unmuted"));
    }
    EXPECT_TRUE(failures_.empty());
}

// The press reads the state at the press: a mute set by another program a moment before is the
// one the press inverts, and the listener hears of it without a press.
TEST_F(MicrophoneOnPulse, ChangesByAnotherProgramReachTheListenerAndThePress) {
    std::vector<std::optional<bool>> heard;
    microphone_.SetMuteListener([&](std::optional<bool> muted) { heard.push_back(muted); });
    StartConnected(PrivatePulseServer::WithMicrophone());
    ASSERT_TRUE(RunUntil([&] { return !heard.empty(); }));
    EXPECT_EQ(heard.back(), false);

    server_.Pactl("set-source-mute @DEFAULT_SOURCE@ 1");
    ASSERT_TRUE(RunUntil([&] { return heard.back() == true; }));
    EXPECT_EQ(microphone_.Muted(), true);

    server_.Pactl("set-source-mute @DEFAULT_SOURCE@ 0");
    const std::size_t traced = debug_.lines.size();
    microphone_.ToggleMute();  // before the loop has seen the unmute
    ASSERT_TRUE(RunUntil([&] { return debug_.lines.size() > traced; }));
    EXPECT_TRUE(debug_.lines.back().ends_with(u"\" muted"));
    EXPECT_EQ(server_.SourceMute(), "yes");
    EXPECT_TRUE(RunUntil([&] { return heard.back() == true && heard.size() >= 2; }));
}

TEST_F(MicrophoneOnPulse, FollowsAChangeOfDefaultSource) {
    StartConnected(PrivatePulseServer::WithMicrophone());
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted().has_value(); }));
    const std::string first = server_.Pactl("get-default-source");
    server_.Pactl("load-module module-null-source source_name=second");
    server_.Pactl("set-source-mute second 1");
    server_.Pactl("set-default-source second");
    // The new default is muted: the state follows it without a press.
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted() == true; }));

    microphone_.ToggleMute();
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted() == false; }));
    EXPECT_EQ(server_.SourceMute("second"), "no");
    EXPECT_EQ(server_.SourceMute(first.substr(0, first.find('\n'))), "no");
    ASSERT_FALSE(debug_.lines.empty());
    EXPECT_NE(debug_.lines.back().find(u"unmuted"), std::u16string::npos);
}

TEST_F(MicrophoneOnPulse, WithoutADefaultSourceAPressChangesNothingAndSaysSoOnce) {
    StartConnected(PrivatePulseServer::WithoutSources());
    RunFor(100ms);
    EXPECT_EQ(microphone_.Muted(), std::nullopt);
    const std::size_t traced = debug_.lines.size();
    microphone_.ToggleMute();
    RunFor(200ms);
    EXPECT_EQ(
        TracesAfter(traced),
        std::vector<std::u16string>{u"No default microphone; the microphone mute is not toggled"});
    EXPECT_EQ(failures_, TracesAfter(traced)) << "the user is told what the trace says";
    EXPECT_EQ(microphone_.Muted(), std::nullopt);

    // A source that appears later is found without a press.
    server_.Pactl("load-module module-null-source source_name=late");
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted() == false; }));
    microphone_.ToggleMute();
    EXPECT_TRUE(RunUntil([&] { return microphone_.Muted() == true; }));
    EXPECT_EQ(server_.SourceMute("late"), "yes");
}

// While the server is gone the loop retries on a timer that backs off: a few wake-ups a
// second at most and almost no processor time; a press says why it does nothing. The restarted
// server is found again and presses work.
TEST_F(MicrophoneOnPulse, ReconnectsToARestartedServerWithoutABusyLoop) {
    std::vector<std::optional<bool>> heard;
    microphone_.SetMuteListener([&](std::optional<bool> muted) { heard.push_back(muted); });
    StartConnected(PrivatePulseServer::WithMicrophone());
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted().has_value(); }));

    server_.Kill();
    ASSERT_TRUE(RunUntil([&] { return !microphone_.Connected(); }));
    EXPECT_EQ(heard.back(), std::nullopt);
    const std::size_t traced = debug_.lines.size();
    microphone_.ToggleMute();
    EXPECT_EQ(TracesAfter(traced),
              std::vector<std::u16string>{
                  u"The sound server is not connected; the microphone mute is not toggled"});
    EXPECT_EQ(failures_, TracesAfter(traced));

    const long wake_ups = WakeUpsOfThisThread();
    const auto cpu = ThreadCpuTime();
    RunFor(3s);
    EXPECT_LE(WakeUpsOfThisThread() - wake_ups, 12) << "retries too often";
    EXPECT_LT(ThreadCpuTime() - cpu, 100ms);

    ASSERT_TRUE(server_.Start(PrivatePulseServer::WithMicrophone()));
    ASSERT_TRUE(RunUntil([&] { return microphone_.Connected(); },
                         LinuxMicrophone::kLongestRetryDelay + 2s));
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted() == false; }));
    microphone_.ToggleMute();
    EXPECT_TRUE(RunUntil([&] { return microphone_.Muted() == true; }));
    EXPECT_EQ(server_.SourceMute(), "yes");
}

// Ends the loop's run at each trace line, noting when it came.
class QuitOnTrace : public DebugOutput {
  public:
    explicit QuitOnTrace(LinuxMainLoop& loop) : loop_(loop) {}
    void Trace(std::u16string_view line) const override {
        lines.emplace_back(line);
        loop_.Quit(0);
    }
    mutable std::vector<std::u16string> lines;

  private:
    LinuxMainLoop& loop_;
};

// A press is a read and a set on the server, answered within the loop's own turns: against a
// local server a fraction of a millisecond; the bound leaves room for sanitizers and a busy
// machine.
TEST_F(MicrophoneOnPulse, APressIsAnsweredWithinMilliseconds) {
    ASSERT_TRUE(server_.Start(PrivatePulseServer::WithMicrophone()));
    QuitOnTrace traces(loop_);
    LinuxMicrophone microphone(loop_, traces, "korv-test", server_.Server());
    microphone.Prepare();
    ASSERT_TRUE(RunUntil([&] { return microphone.Connected(); }));
    const auto give_up = loop_.CreateTimer([&] { loop_.Quit(1); });
    std::vector<std::chrono::nanoseconds> times;
    for (int i = 0; i < 21; ++i) {
        give_up->Start(2s);
        const auto start = std::chrono::steady_clock::now();
        microphone.ToggleMute();
        ASSERT_EQ(loop_.Run(), 0) << "no answer to press " << i;
        times.push_back(std::chrono::steady_clock::now() - start);
        give_up->Stop();
    }
    ASSERT_TRUE(std::ranges::all_of(traces.lines, [](const std::u16string& line) {
        return line.starts_with(u"Microphone \"");
    }));
    std::ranges::sort(times);
    const auto median = times[times.size() / 2];
    std::printf("median press to answer: %.3f ms\n",
                std::chrono::duration<double, std::milli>(median).count());
    EXPECT_LT(median, 5ms);
    EXPECT_EQ(server_.SourceMute(), "yes");  // an odd number of presses
}

// The sound library runs in the program's loop: no thread of its own, and no wake-up while the
// connection is idle.
TEST_F(MicrophoneOnPulse, AnIdleConnectionWakesNobodyAndAddsNoThread) {
    const long threads = ThreadsOfThisProcess();
    StartConnected(PrivatePulseServer::WithMicrophone());
    ASSERT_TRUE(RunUntil([&] { return microphone_.Muted().has_value(); }));
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
    const long wake_ups = WakeUpsOfThisThread();
    RunFor(1s);
    // The timer that ends the run is the one wake-up.
    EXPECT_LE(WakeUpsOfThisThread() - wake_ups, 2);
}

// Before any server was reached, and with none there at all, the object can be destroyed in any
// state without a call reaching it afterwards.
TEST_F(MicrophoneOnPulse, ADestroyedMicrophoneLeavesNothingBehindInTheLoop) {
    {
        LinuxMicrophone early(loop_, debug_, "korv-test", "unix:/nonexistent/pulse/native");
        early.Prepare();
        RunFor(20ms);
        early.ToggleMute();
    }
    const std::size_t traced = debug_.lines.size();
    RunFor(300ms);  // its retry timer must not fire into a destroyed object
    EXPECT_EQ(debug_.lines.size(), traced);
}

struct LibraryCase {
    const char* file;
    bool loads;
    std::u16string_view failure_start;  // what the failure begins with; all of it when it lacks
    bool whole_failure;
};

// The installed libpulse loads with every function; a missing file and a library without the
// functions are failures that name them.
TEST(PulseLibrary, LoadsTheInstalledLibraryAndNamesWhatIsMissing) {
    const LibraryCase cases[] = {
        {kPulseLibraryFile, true, u"", true},
        {"libkorv-absent.so.0", false, u"The sound library libkorv-absent.so.0 cannot be loaded: ",
         false},
        {"libc.so.6", false, u"The sound library libc.so.6 lacks pa_context_new", true},
    };
    for (const LibraryCase& library : cases) {
        SCOPED_TRACE(library.file);
        const PulseLoad load = PulseLibrary::Load(library.file);
        EXPECT_EQ(load.library != nullptr, library.loads);
        if (library.whole_failure)
            EXPECT_EQ(load.failure, library.failure_start);
        else
            EXPECT_TRUE(load.failure.starts_with(library.failure_start) &&
                        load.failure.size() > library.failure_start.size())
                << std::string(load.failure.begin(), load.failure.end());
    }
}

// Without the library the microphone is as without a server: presses change nothing and say so,
// the missing library is traced once, and no timer retries it.
TEST_F(MicrophoneOnPulse, WithoutTheLibraryPressesSayWhyAndNothingRetries) {
    ASSERT_TRUE(server_.Start(PrivatePulseServer::WithMicrophone()));
    LinuxMicrophone microphone(loop_, debug_, "korv-test", server_.Server(), "libkorv-absent.so.0");
    microphone.SetFailureListener(
        [this](std::u16string_view reason) { failures_.emplace_back(reason); });
    microphone.Prepare();
    RunFor(100ms);
    ASSERT_EQ(debug_.lines.size(), 1u);
    const std::u16string& line = debug_.lines.front();
    EXPECT_TRUE(line.starts_with(u"The sound library libkorv-absent.so.0 cannot be loaded: "))
        << std::string(line.begin(), line.end());
    EXPECT_TRUE(line.ends_with(u"; the microphone mute is not available"));

    const std::u16string not_connected =
        u"The sound server is not connected; the microphone mute is not toggled";
    for (int press = 0; press < 2; ++press) {
        microphone.ToggleMute();
        RunFor(50ms);
    }
    EXPECT_EQ(TracesAfter(1), (std::vector<std::u16string>{not_connected, not_connected}));
    EXPECT_EQ(failures_, TracesAfter(1));
    EXPECT_FALSE(microphone.Connected());
    EXPECT_EQ(microphone.Muted(), std::nullopt);
    EXPECT_EQ(server_.SourceMute(), "no");

    const long wake_ups = WakeUpsOfThisThread();
    RunFor(1s);
    EXPECT_LE(WakeUpsOfThisThread() - wake_ups, 2) << "something retries";
}

}  // namespace
}  // namespace korv::os_linux
