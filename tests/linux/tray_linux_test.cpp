// The tray item on a private session bus, as a panel meets it: a watcher stand-in on a thread of
// its own takes the registrations (with a watcher that runs, one that comes later, and each new
// owner of its name), and a host connection on another thread reads the item's properties and
// the menu's layout and clicks, as a panel does. The monitor's core drives the item through the
// fakes of its other ports: its captions and tooltip in English and in Chinese, its icon with
// the microphone's state. The icons are the shipped files.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "app/mouse_monitor.h"
#include "app/settings_file.h"
#include "lang/translation_engine.h"
#include "platform/linux/linux_file_system.h"
#include "platform/linux/linux_sni_tray.h"
#include "platform/linux/utf8_text.h"
#include "tests/core/fake_monitor_ports.h"
#include "tests/linux/private_session_bus.h"
#include "tests/linux/service_thread.h"
#include "tests/linux/tray_watcher_standin.h"

namespace korv::os_linux {
namespace {

using namespace std::chrono_literals;
using korv::testing::PrivateSessionBus;
using korv::testing::RunUntil;
using korv::testing::TrayWatcherStandIn;

struct Registration {
    std::string sender;
    std::string service;
};

// The watcher stand-in on a thread of its own, with its own loop and connection, as a panel
// runs it; keeps the registrations it took.
class WatcherThread {
  public:
    // What the watcher does with a registration before it answers: `before_answer`, on its own
    // connection.
    using BeforeAnswer = std::function<void(LinuxBus& bus, const std::string& service)>;

    explicit WatcherThread(const std::string& address, BeforeAnswer before_answer = {})
        : thread_(address, [this, before_answer](LinuxBus& bus) -> std::shared_ptr<void> {
              return TrayWatcherStandIn::Start(
                  bus, [this, before_answer, &bus](const std::string& sender,
                                                   const std::string& service) {
                      if (before_answer)
                          before_answer(bus, service);
                      const std::lock_guard lock(mutex_);
                      registrations_.push_back({sender, service});
                  });
          }) {}
    [[nodiscard]] bool Running() const { return thread_.Running(); }
    [[nodiscard]] std::vector<Registration> Registrations() const {
        const std::lock_guard lock(mutex_);
        return registrations_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Registration> registrations_;
    korv::testing::ServiceThread thread_;  // last: it ends before what it writes to
};

// --- what a panel reads, from a connection of its own -------------------------------------------

struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> argb;
};

struct MenuEntry {
    std::int32_t id = 0;
    std::string label;
    bool visible = true;
    bool operator==(const MenuEntry&) const = default;
};

struct ToolTip {
    std::string title;
    std::string text;
};

class Host {
  public:
    Host(sd_bus* bus, std::string item) : bus_(bus), item_(std::move(item)) {}

    std::string ItemString(const char* property) const {
        SdBusError error;
        sd_bus_message* raw = nullptr;
        const char* type = std::string_view(property) == "Menu" ? "o" : "s";
        if (sd_bus_get_property(bus_, item_.c_str(), kTrayItemObjectPath, kTrayItemInterface,
                                property, error.Get(), &raw, type) < 0)
            return "(error)";
        const SdBusMessage reply(raw);
        const char* value = nullptr;
        return sd_bus_message_read(reply.get(), type, &value) >= 0 ? value : "(unreadable)";
    }
    int ItemIsMenu() const {
        SdBusError error;
        int value = -1;
        return sd_bus_get_property_trivial(bus_, item_.c_str(), kTrayItemObjectPath,
                                           kTrayItemInterface, "ItemIsMenu", error.Get(), 'b',
                                           &value) >= 0
                   ? value
                   : -1;
    }
    std::uint32_t MenuVersion() const {
        SdBusError error;
        std::uint32_t value = 0;
        static_cast<void>(sd_bus_get_property_trivial(bus_, item_.c_str(), kTrayMenuObjectPath,
                                                      kTrayMenuInterface, "Version", error.Get(),
                                                      'u', &value));
        return value;
    }

    std::vector<Picture> Pixmaps() const {
        std::vector<Picture> pictures;
        SdBusError error;
        sd_bus_message* raw = nullptr;
        if (sd_bus_get_property(bus_, item_.c_str(), kTrayItemObjectPath, kTrayItemInterface,
                                "IconPixmap", error.Get(), &raw, "a(iiay)") < 0)
            return pictures;
        const SdBusMessage reply(raw);
        if (sd_bus_message_enter_container(reply.get(), 'a', "(iiay)") < 0)
            return pictures;
        while (sd_bus_message_enter_container(reply.get(), 'r', "iiay") > 0) {
            Picture picture;
            const void* data = nullptr;
            std::size_t size = 0;
            if (sd_bus_message_read(reply.get(), "ii", &picture.width, &picture.height) < 0 ||
                sd_bus_message_read_array(reply.get(), 'y', &data, &size) < 0 ||
                sd_bus_message_exit_container(reply.get()) < 0)
                break;
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            picture.argb.assign(bytes, bytes + size);
            pictures.push_back(std::move(picture));
        }
        return pictures;
    }

    ToolTip Tip() const {
        SdBusError error;
        sd_bus_message* raw = nullptr;
        if (sd_bus_get_property(bus_, item_.c_str(), kTrayItemObjectPath, kTrayItemInterface,
                                "ToolTip", error.Get(), &raw, "(sa(iiay)ss)") < 0)
            return {"(error)", {}};
        const SdBusMessage reply(raw);
        const char* title = nullptr;
        const char* text = nullptr;
        if (sd_bus_message_enter_container(reply.get(), 'r', "sa(iiay)ss") < 0 ||
            sd_bus_message_skip(reply.get(), "sa(iiay)") < 0 ||
            sd_bus_message_read(reply.get(), "ss", &title, &text) < 0)
            return {"(unreadable)", {}};
        return {title, text};
    }

    // The root's children as GetLayout gives them.
    std::vector<MenuEntry> Layout() const {
        std::vector<MenuEntry> entries;
        SdBusError error;
        sd_bus_message* raw = nullptr;
        if (sd_bus_call_method(bus_, item_.c_str(), kTrayMenuObjectPath, kTrayMenuInterface,
                               "GetLayout", error.Get(), &raw, "iias", 0, -1, 0) < 0)
            return entries;
        const SdBusMessage reply(raw);
        sd_bus_message* m = reply.get();
        std::uint32_t revision = 0;
        std::int32_t root = -1;
        if (sd_bus_message_read(m, "u", &revision) < 0 ||
            sd_bus_message_enter_container(m, 'r', "ia{sv}av") < 0 ||
            sd_bus_message_read(m, "i", &root) < 0 || sd_bus_message_skip(m, "a{sv}") < 0 ||
            sd_bus_message_enter_container(m, 'a', "v") < 0)
            return entries;
        while (sd_bus_message_enter_container(m, 'v', "(ia{sv}av)") > 0) {
            MenuEntry entry;
            if (sd_bus_message_enter_container(m, 'r', "ia{sv}av") < 0 ||
                sd_bus_message_read(m, "i", &entry.id) < 0 ||
                sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
                break;
            while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
                const char* key = nullptr;
                static_cast<void>(sd_bus_message_read(m, "s", &key));
                const std::string_view name = key != nullptr ? key : "";
                const char* label = nullptr;
                int visible = 1;
                if (name == "label" && sd_bus_message_read(m, "v", "s", &label) >= 0)
                    entry.label = label;
                else if (name == "visible" && sd_bus_message_read(m, "v", "b", &visible) >= 0)
                    entry.visible = visible != 0;
                else
                    static_cast<void>(sd_bus_message_skip(m, "v"));
                static_cast<void>(sd_bus_message_exit_container(m));
            }
            if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_skip(m, "av") < 0 ||
                sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0)
                break;
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    // Calls a method of the item or its menu with the arguments `fill` appends; the error's name,
    // empty when it succeeded.
    std::string Call(const char* path, const char* interface, const char* member,
                     const std::function<int(sd_bus_message*)>& fill) const {
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_call(bus_, &raw, item_.c_str(), path, interface, member) < 0)
            return "(not sent)";
        const SdBusMessage call(raw);
        SdBusError error;
        sd_bus_message* reply = nullptr;
        if (fill(call.get()) < 0)
            return "(not built)";
        if (sd_bus_call(bus_, call.get(), BusTimeout(5000ms), error.Get(), &reply) >= 0) {
            sd_bus_message_unref(reply);
            return {};
        }
        return sd_bus_error_is_set(error.Get()) ? error.Get()->name : "(no answer)";
    }
    std::string Click(std::int32_t id, const char* event = "clicked") const {
        return Call(kTrayMenuObjectPath, kTrayMenuInterface, "Event", [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "isvu", id, event, "s", "", 0u);
        });
    }

    sd_bus* Bus() const { return bus_; }
    const std::string& Item() const { return item_; }

  private:
    sd_bus* bus_;
    std::string item_;
};

// --- the fixture ---------------------------------------------------------------------------------

std::string Utf8(std::u16string_view text) {
    return Utf8FromUtf16(text);
}

class TrayTest : public ::testing::Test, protected fake::FakeMonitorPorts {
  protected:
    TrayTest() {
        std::filesystem::create_directories(IconFolder());
        for (const char* name : {"logo.ico", "logo-muted.ico"})
            std::filesystem::copy_file(std::string(KORV_ICON_FOLDER) + name, IconFolder() + name);
        bus_ = LinuxBus::Attach(ConnectSessionBus(session_.Address()), loop_, debug);
        if (bus_)
            tray_ = LinuxSniTray::Create(*bus_, real_files_, Utf16FromUtf8(data_.Path() + "/"),
                                         {[this] { ++config_clicks_; },
                                          [this] {
                                              ++exit_clicks_;
                                              if (on_exit_)
                                                  on_exit_();
                                          }},
                                         debug);
        const char* unique = nullptr;
        if (bus_ && sd_bus_get_unique_name(bus_->Get(), &unique) >= 0)
            unique_name_ = unique;
    }
    // The translation engine is process-wide: leave it showing the source texts.
    ~TrayTest() override {
        monitor_.reset();
        ResetLanguage();
    }

    void SetUp() override {
        ASSERT_FALSE(session_.Address().empty());
        ASSERT_NE(tray_, nullptr);
    }

    std::string IconFolder() const { return data_.Path() + "/images/0409/icons/"; }

    // Runs `call` with a panel's connection on a thread of its own while the loop serves the
    // tray.
    template <typename Call>
    auto AsHost(Call call) {
        auto done = std::async(std::launch::async, [this, &call] {
            const SdBusConnection host = ConnectSessionBus(session_.Address());
            return call(Host(host.get(), unique_name_));
        });
        EXPECT_TRUE(RunUntil(
            loop_, [&] { return done.wait_for(0ms) == std::future_status::ready; }, 10s));
        return done.get();
    }

    // The monitor's core, showing its state in the tray under test.
    // As the monitor starts: the item shown first, then the component.
    TKORVANTH417MONMAIN& StartMonitor() {
        EXPECT_TRUE(tray_->Show());
        dm_ = LoadDataModule(Ports());
        ports_.emplace(MonitorPorts{Ports(),
                                    peer,
                                    microphone,
                                    *tray_,
                                    {files, &loader, message_boxes, keyboard, debug},
                                    hid,
                                    loop,
                                    notifications});
        monitor_ = std::make_unique<TKORVANTH417MONMAIN>(nullptr, *ports_, *dm_,
                                                         SettingsFile::Load(files, locale));
        monitor_->FormCreate();
        return *monitor_;
    }
    void StoreLanguage(std::int32_t index) {
        auto other = LoadDataModule(Ports());  // the configuration program's side
        other->FAllProfileSettingInfo.CurrentLanguage = index;
        EXPECT_TRUE(other->SaveBackAllProfileSettingInfo());
    }

    bool Traced(std::u16string_view line) const {
        return std::ranges::count(debug.lines, line) > 0;
    }

    PrivateSessionBus session_;
    LinuxMainLoop loop_;
    os_linux::testing::TempFolder data_{"tray-test"};
    LinuxFileSystem real_files_;
    std::unique_ptr<LinuxBus> bus_;
    std::unique_ptr<LinuxSniTray> tray_;
    std::string unique_name_;
    int config_clicks_ = 0;
    int exit_clicks_ = 0;
    std::function<void()> on_exit_;
    std::unique_ptr<TDM> dm_;
    std::optional<MonitorPorts> ports_;
    std::unique_ptr<TKORVANTH417MONMAIN> monitor_;
};

// --- registration ------------------------------------------------------------------------------

// The first registration is answered before Show returns: the program's start-up work that
// follows does not hold up the panel.
TEST_F(TrayTest, RegistersWithTheRunningWatcherUnderItsUniqueName) {
    const WatcherThread watcher(session_.Address());
    ASSERT_TRUE(watcher.Running());
    ASSERT_TRUE(tray_->Show());
    EXPECT_TRUE(tray_->Registered());
    const auto registrations = watcher.Registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].service, unique_name_);
    EXPECT_EQ(registrations[0].sender, unique_name_);
    EXPECT_TRUE(Traced(u"Tray icon added"));
}

// A watcher that reads the item before it answers, as a panel may, is served during the wait.
TEST_F(TrayTest, AWatcherThatReadsTheItemBeforeItAnswersIsServedDuringTheWait) {
    std::string id;
    const WatcherThread reading(session_.Address(),
                                [&id](LinuxBus& bus, const std::string& service) {
                                    id = Host(bus.Get(), service).ItemString("Id");
                                });
    ASSERT_TRUE(reading.Running());
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(tray_->Show());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 400ms);
    EXPECT_TRUE(tray_->Registered());
    EXPECT_EQ(id, "korvanth417-monitor");
}

// An answer that comes after the wait is still taken.
TEST_F(TrayTest, ALateAnswerOfTheWatcherIsTaken) {
    const WatcherThread late(session_.Address(), [](LinuxBus&, const std::string&) {
        std::this_thread::sleep_for(700ms);
    });
    ASSERT_TRUE(late.Running());
    ASSERT_TRUE(tray_->Show());
    EXPECT_FALSE(tray_->Registered());
    EXPECT_TRUE(
        Traced(u"Tray icon: the panel has not answered yet; it shows the item once it does"));
    ASSERT_TRUE(RunUntil(loop_, [&] { return tray_->Registered(); }));
    EXPECT_TRUE(Traced(u"Tray icon added"));
}

// A watcher that owns its name and never answers holds the start up for a moment only; a
// panel's request that comes meanwhile is answered.
TEST_F(TrayTest, AWatcherThatNeverAnswersHoldsTheStartForAMomentOnly) {
    const SdBusConnection hanging = ConnectSessionBus(session_.Address());
    ASSERT_TRUE(hanging);
    ASSERT_EQ(RequestBusName(hanging.get(), kTrayWatcherBusName), BusNameResult::Owned);
    // A panel's request that arrives during the wait.
    auto status = std::async(std::launch::async, [this] {
        const SdBusConnection host = ConnectSessionBus(session_.Address());
        return Host(host.get(), unique_name_).ItemString("Status");
    });
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(tray_->Show());
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(waited, 400ms);
    EXPECT_LT(waited, 2s);
    EXPECT_FALSE(tray_->Registered());
    EXPECT_TRUE(
        Traced(u"Tray icon: the panel has not answered yet; it shows the item once it does"));
    ASSERT_TRUE(RunUntil(loop_, [&] { return status.wait_for(0ms) == std::future_status::ready; }));
    EXPECT_EQ(status.get(), "Active");
}

TEST_F(TrayTest, RegistersWhenAWatcherComesAndAgainWithEachNewOwnerOfItsName) {
    ASSERT_TRUE(tray_->Show());
    ASSERT_TRUE(RunUntil(loop_, [&] {
        return Traced(u"Tray icon cannot be added yet; trying again until it can");
    }));
    EXPECT_FALSE(tray_->Registered());

    const WatcherThread first(session_.Address());
    ASSERT_TRUE(RunUntil(loop_, [&] { return first.Registrations().size() == 1; }));
    ASSERT_TRUE(RunUntil(loop_, [&] { return tray_->Registered(); }));

    // A restarted panel takes the name over while the old one still holds it.
    const WatcherThread replacement(session_.Address());
    ASSERT_TRUE(replacement.Running());
    ASSERT_TRUE(RunUntil(loop_, [&] { return replacement.Registrations().size() == 1; }));
    EXPECT_EQ(replacement.Registrations()[0].service, unique_name_);
}

TEST_F(TrayTest, AWatcherThatLeavesAndComesBackGetsTheItemAgain) {
    ASSERT_TRUE(tray_->Show());
    for (int round = 0; round < 2; ++round) {
        const WatcherThread watcher(session_.Address());
        ASSERT_TRUE(RunUntil(loop_, [&] { return watcher.Registrations().size() == 1; })) << round;
        ASSERT_TRUE(RunUntil(loop_, [&] { return tray_->Registered(); })) << round;
    }
    ASSERT_TRUE(RunUntil(loop_, [&] { return !tray_->Registered(); }));
}

// --- properties and menu -----------------------------------------------------------------------

TEST_F(TrayTest, TheItemsFixedProperties) {
    const auto values = AsHost([](const Host& host) {
        return std::vector<std::string>{
            host.ItemString("Category"),       host.ItemString("Id"),
            host.ItemString("Status"),         host.ItemString("Menu"),
            std::to_string(host.ItemIsMenu()), std::to_string(host.MenuVersion())};
    });
    EXPECT_EQ(values, (std::vector<std::string>{"Hardware", "korvanth417-monitor", "Active",
                                                "/MenuBar", "0", "3"}));
}

struct LanguageCase {
    std::int32_t index;
    std::u16string_view title;
    std::u16string_view hint;
    std::array<std::u16string_view, kTrayMenuItems> captions;
};

// The monitor starts in the stored language; a reload of the settings follows a new one.
TEST_F(TrayTest, CaptionsTooltipAndTitleInTheMonitorsLanguage) {
    const LanguageCase cases[] = {
        {0, u"游戏鼠标监控程序", u"游戏鼠标驱动程序", {u"打开配置", u"关于软件", u"退出软件"}},
        {1, u"GAMING MOUSE MONITOR", u"GAMING MOUSE DRIVER", {u"Config", u"About", u"Exit"}},
        {0, u"游戏鼠标监控程序", u"游戏鼠标驱动程序", {u"打开配置", u"关于软件", u"退出软件"}},
    };
    TKORVANTH417MONMAIN& monitor = StartMonitor();
    for (const LanguageCase& language : cases) {
        SCOPED_TRACE(language.index);
        StoreLanguage(language.index);
        monitor.WMReloadSettings();
        const auto [layout, tip, title] = AsHost([](const Host& host) {
            return std::tuple(host.Layout(), host.Tip(), host.ItemString("Title"));
        });
        const std::vector<MenuEntry> expected = {
            {kTrayMenuItemIds[0], Utf8(language.captions[0]), true},
            {kTrayMenuItemIds[1], Utf8(language.captions[1]), false},
            {kTrayMenuItemIds[2], Utf8(language.captions[2]), true}};
        EXPECT_EQ(layout, expected);
        EXPECT_EQ(title, Utf8(language.title));
        EXPECT_EQ(tip.title, Utf8(language.hint));
        EXPECT_EQ(tip.text, Utf8(TranslateText(u"Microphone on")));
    }
}

// What ItemsPropertiesUpdated signals told: how many came, and the first item's label in the
// last one.
struct Updates {
    int count = 0;
    std::string first_label;
};

int OnItemsUpdated(sd_bus_message* signal, void* updates, sd_bus_error*) {
    Updates& seen = *static_cast<Updates*>(updates);
    ++seen.count;
    const char* key = nullptr;
    const char* label = nullptr;
    std::int32_t id = 0;
    if (sd_bus_message_enter_container(signal, 'a', "(ia{sv})") >= 0 &&
        sd_bus_message_enter_container(signal, 'r', "ia{sv}") >= 0 &&
        sd_bus_message_read(signal, "i", &id) >= 0 &&
        sd_bus_message_enter_container(signal, 'a', "{sv}") >= 0 &&
        sd_bus_message_enter_container(signal, 'e', "sv") >= 0 &&
        sd_bus_message_read(signal, "s", &key) >= 0 &&
        sd_bus_message_read(signal, "v", "s", &label) >= 0)
        seen.first_label = label;
    return 0;
}

TEST_F(TrayTest, CaptionsChangeIsSignalled) {
    const auto host_bus = LinuxBus::Attach(ConnectSessionBus(session_.Address()), loop_, debug);
    ASSERT_NE(host_bus, nullptr);
    Updates updates;
    sd_bus_slot* raw = nullptr;
    ASSERT_GE(
        sd_bus_match_signal(host_bus->Get(), &raw, unique_name_.c_str(), kTrayMenuObjectPath,
                            kTrayMenuInterface, "ItemsPropertiesUpdated", OnItemsUpdated, &updates),
        0);
    const SdBusSlot match(raw);
    // No panel knows the item before it is shown: nothing is sent.
    tray_->SetMenuCaptions({u"A0", u"B", u"C_D&E"});
    ASSERT_TRUE(tray_->Show());
    tray_->SetMenuCaptions({u"A", u"B", u"C_D&E"});
    ASSERT_TRUE(RunUntil(loop_, [&] { return updates.count == 1; }));
    EXPECT_EQ(updates.first_label, "A");
    // The same again tells nothing: the signals of one sender come in order, so once the next
    // change's arrives, one sent for the repeat would have been counted before it.
    tray_->SetMenuCaptions({u"A", u"B", u"C_D&E"});
    tray_->SetMenuCaptions({u"A2", u"B", u"C_D&E"});
    ASSERT_TRUE(RunUntil(loop_, [&] { return updates.first_label == "A2"; }));
    EXPECT_EQ(updates.count, 2);
    // The Windows mnemonic mark becomes dbusmenu's, and a plain underscore stays plain.
    const auto layout = AsHost([](const Host& host) { return host.Layout(); });
    ASSERT_EQ(layout.size(), 3u);
    EXPECT_EQ(layout[2].label, "C__D_E");
}

// What a panel asks before it shows the menu: the properties of a group of items, only those it
// names (none named: all of them), unknown items left out.
TEST_F(TrayTest, GroupPropertiesGiveWhatIsAskedFor) {
    tray_->SetMenuCaptions({u"Config", u"About", u"Exit"});
    const auto group = [](std::vector<std::int32_t> ids, std::vector<std::string> names) {
        return [ids, names](const Host& host) {
            std::vector<std::string> seen;
            sd_bus_message* raw = nullptr;
            SdBusError error;
            if (sd_bus_message_new_method_call(host.Bus(), &raw, host.Item().c_str(),
                                               kTrayMenuObjectPath, kTrayMenuInterface,
                                               "GetGroupProperties") < 0)
                return seen;
            const SdBusMessage call(raw);
            std::vector<const char*> name_list;
            for (const std::string& name : names)
                name_list.push_back(name.c_str());
            name_list.push_back(nullptr);
            sd_bus_message* answer = nullptr;
            if (sd_bus_message_append_array(call.get(), 'i', ids.data(), ids.size() * 4) < 0 ||
                sd_bus_message_append_strv(call.get(), const_cast<char**>(name_list.data())) < 0 ||
                sd_bus_call(host.Bus(), call.get(), 0, error.Get(), &answer) < 0)
                return seen;
            const SdBusMessage reply(answer);
            std::int32_t id = 0;
            if (sd_bus_message_enter_container(reply.get(), 'a', "(ia{sv})") < 0)
                return seen;
            while (sd_bus_message_enter_container(reply.get(), 'r', "ia{sv}") > 0 &&
                   sd_bus_message_read(reply.get(), "i", &id) >= 0 &&
                   sd_bus_message_enter_container(reply.get(), 'a', "{sv}") >= 0) {
                const char* key = nullptr;
                while (sd_bus_message_enter_container(reply.get(), 'e', "sv") > 0 &&
                       sd_bus_message_read(reply.get(), "s", &key) >= 0 &&
                       sd_bus_message_skip(reply.get(), "v") >= 0 &&
                       sd_bus_message_exit_container(reply.get()) >= 0)
                    seen.push_back(std::to_string(id) + ":" + key);
                static_cast<void>(sd_bus_message_exit_container(reply.get()));
                static_cast<void>(sd_bus_message_exit_container(reply.get()));
            }
            return seen;
        };
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(AsHost(group({3, 42}, {"label"})), Names{"3:label"});
    EXPECT_EQ(AsHost(group({2}, {"visible", "icon-name"})), Names{"2:visible"});
    EXPECT_EQ(AsHost(group({}, {"label"})), (Names{"1:label", "2:label", "3:label"}));
    EXPECT_EQ(AsHost(group({1}, {})), (Names{"1:label", "1:enabled", "1:visible"}));
    // Each item is answered once, however often it is named.
    EXPECT_EQ(AsHost(group({1, 1, 3, 1, 42, 3, 42}, {"label"})), (Names{"1:label", "3:label"}));
}

struct OversizedGroupCase {
    const char* name;
    const char* member;
    std::function<int(sd_bus_message*)> fill;
};

// Group calls far longer than a menu of four items are refused whole: nothing runs, the answer
// stays small, and the tray serves on, on the same connection.
TEST_F(TrayTest, OversizedGroupsAreRefusedAndTheTrayServesOn) {
    const auto ids = [](std::size_t count, std::int32_t id) {
        return [count, id](sd_bus_message* m) {
            const std::vector<std::int32_t> many(count, id);
            return sd_bus_message_append_array(m, 'i', many.data(), many.size() * sizeof id);
        };
    };
    const auto clicks = [](std::size_t count) {
        return [count](sd_bus_message* m) {
            int result = sd_bus_message_open_container(m, 'a', "(isvu)");
            for (std::size_t i = 0; i < count && result >= 0; ++i)
                result = sd_bus_message_append(m, "(isvu)", 1, "clicked", "i", 0, 0u);
            return result >= 0 ? sd_bus_message_close_container(m) : result;
        };
    };
    const OversizedGroupCase cases[] = {
        {"GetGroupProperties of one item named 200000 times", "GetGroupProperties",
         [ids](sd_bus_message* m) {
             const int result = ids(200000, 1)(m);
             return result >= 0 ? sd_bus_message_append(m, "as", 0) : result;
         }},
        {"AboutToShowGroup of 200000 unknown items", "AboutToShowGroup", ids(200000, 42)},
        {"EventGroup of 10000 clicks on Config", "EventGroup", clicks(10000)},
    };
    tray_->SetMenuCaptions({u"Config", u"About", u"Exit"});
    for (const OversizedGroupCase& oversized : cases) {
        SCOPED_TRACE(oversized.name);
        const auto [error, layout] = AsHost([&oversized](const Host& host) {
            return std::pair(host.Call(kTrayMenuObjectPath, kTrayMenuInterface, oversized.member,
                                       oversized.fill),
                             host.Layout());
        });
        EXPECT_EQ(error, SD_BUS_ERROR_LIMITS_EXCEEDED);
        EXPECT_EQ(layout.size(), 3u);
        EXPECT_GT(sd_bus_is_open(bus_->Get()), 0);
        loop_.ProcessPending();
        EXPECT_EQ(config_clicks_ + exit_clicks_, 0);
    }
}

// --- the icon ----------------------------------------------------------------------------------

TEST_F(TrayTest, TheIconAndTooltipFollowTheMicrophoneAndNewIconIsSignalled) {
    const auto host_bus = LinuxBus::Attach(ConnectSessionBus(session_.Address()), loop_, debug);
    ASSERT_NE(host_bus, nullptr);
    int new_icons = 0;
    sd_bus_slot* raw = nullptr;
    ASSERT_GE(sd_bus_match_signal(
                  host_bus->Get(), &raw, unique_name_.c_str(), kTrayItemObjectPath,
                  kTrayItemInterface, "NewIcon",
                  [](sd_bus_message*, void* count, sd_bus_error*) {
                      return ++*static_cast<int*>(count), 0;
                  },
                  &new_icons),
              0);
    const SdBusSlot match(raw);
    TKORVANTH417MONMAIN& monitor = StartMonitor();
    StoreLanguage(1);
    monitor.WMReloadSettings();
    ASSERT_TRUE(RunUntil(loop_, [&] { return new_icons == 1; }));  // the plain one, at start

    const auto look = [this] {
        return AsHost([](const Host& host) {
            return std::tuple(host.ItemString("IconName"), host.Pixmaps(), host.Tip().text);
        });
    };
    const auto [plain_name, plain, plain_text] = look();
    EXPECT_EQ(plain_name, "korvanth417-monitor");
    EXPECT_EQ(plain_text, "Microphone on");
    std::vector<std::int32_t> sides;
    for (const Picture& picture : plain) {
        EXPECT_EQ(picture.width, picture.height);
        EXPECT_EQ(picture.argb.size(), 4u * picture.width * picture.height);
        sides.push_back(picture.width);
    }
    EXPECT_EQ(sides, (std::vector<std::int32_t>{16, 20, 24, 32, 40, 48, 64}));

    microphone.muted = true;
    monitor.ShowMicrophoneState();
    ASSERT_TRUE(RunUntil(loop_, [&] { return new_icons == 2; }));
    const auto [muted_name, muted, muted_text] = look();
    EXPECT_EQ(muted_name, "korvanth417-monitor-muted");
    EXPECT_EQ(muted_text, "Microphone muted");
    ASSERT_EQ(muted.size(), plain.size());
    EXPECT_NE(muted[0].argb, plain[0].argb);

    microphone.muted = false;
    monitor.ShowMicrophoneState();
    ASSERT_TRUE(RunUntil(loop_, [&] { return new_icons == 3; }));
    const auto [back_name, back, back_text] = look();
    EXPECT_EQ(back_name, "korvanth417-monitor");
    EXPECT_EQ(back_text, "Microphone on");
    ASSERT_EQ(back.size(), plain.size());
    EXPECT_EQ(back[0].argb, plain[0].argb);
}

struct BrokenIconCase {
    const char* name;
    std::function<void(const std::string& file)> spoil;
    bool traced;  // whether the monitor says the file is no icon
};

// The port's contract: a missing file, or one without a usable picture, keeps the icon shown.
TEST_F(TrayTest, AMissingOrBrokenMutedIconKeepsThePlainOne) {
    const BrokenIconCase cases[] = {
        {"missing", [](const std::string& file) { std::filesystem::remove(file); }, false},
        {"cut short", [](const std::string& file) { std::filesystem::resize_file(file, 100); },
         true},
        {"not an icon",
         [](const std::string& file) { std::ofstream(file) << "[Settings]\nnot an icon\n"; }, true},
        {"a folder",
         [](const std::string& file) {
             std::filesystem::remove(file);
             std::filesystem::create_directory(file);
         },
         true},
    };
    tray_->SetIcon(TrayIconState::Plain);
    const auto plain = AsHost([](const Host& host) { return host.Pixmaps(); });
    ASSERT_FALSE(plain.empty());
    const std::string muted_file = IconFolder() + "logo-muted.ico";
    for (const BrokenIconCase& broken : cases) {
        SCOPED_TRACE(broken.name);
        std::filesystem::remove_all(muted_file);
        std::filesystem::copy_file(std::string(KORV_ICON_FOLDER) + "logo-muted.ico", muted_file);
        broken.spoil(muted_file);
        debug.lines.clear();
        tray_->SetIcon(TrayIconState::Muted);
        EXPECT_EQ(tray_->Icon(), TrayIconState::Plain);
        const auto [name, shown] = AsHost([](const Host& host) {
            return std::pair(host.ItemString("IconName"), host.Pixmaps());
        });
        EXPECT_EQ(name, "korvanth417-monitor");
        ASSERT_EQ(shown.size(), plain.size());
        EXPECT_EQ(shown[0].argb, plain[0].argb);
        EXPECT_EQ(Traced(u"Tray icon file " + Utf16FromUtf8(muted_file) + u" is not an icon"),
                  broken.traced);
    }
}

// --- clicks --------------------------------------------------------------------------------------

struct ClickCase {
    const char* name;
    std::function<std::string(const Host&)> click;
    int config;
    int exit;
};

TEST_F(TrayTest, ClicksRunTheirActionsFromTheLoop) {
    const auto activate = [](const char* member) {
        return [member](const Host& host) {
            return host.Call(
                kTrayItemObjectPath, kTrayItemInterface, member,
                [](sd_bus_message* m) { return sd_bus_message_append(m, "ii", 5, 7); });
        };
    };
    const ClickCase cases[] = {
        {"Config clicked", [](const Host& host) { return host.Click(1); }, 1, 0},
        {"Exit clicked", [](const Host& host) { return host.Click(3); }, 0, 1},
        {"About clicked (hidden)", [](const Host& host) { return host.Click(2); }, 0, 0},
        {"Config hovered", [](const Host& host) { return host.Click(1, "hovered"); }, 0, 0},
        {"root opened", [](const Host& host) { return host.Click(0, "opened"); }, 0, 0},
        {"item activated", activate("Activate"), 1, 0},
        {"item activated otherwise", activate("SecondaryActivate"), 1, 0},
        {"context menu asked", activate("ContextMenu"), 0, 0},
        {"Exit in a group with an unknown item",
         [](const Host& host) {
             return host.Call(kTrayMenuObjectPath, kTrayMenuInterface, "EventGroup",
                              [](sd_bus_message* m) {
                                  return sd_bus_message_append(m, "a(isvu)", 2, 99, "clicked", "i",
                                                               0, 0u, 3, "clicked", "i", 0, 0u);
                              });
         },
         0, 1},
        {"the same items clicked many times in one group",
         [](const Host& host) {
             return host.Call(kTrayMenuObjectPath, kTrayMenuInterface, "EventGroup",
                              [](sd_bus_message* m) {
                                  int result = sd_bus_message_open_container(m, 'a', "(isvu)");
                                  for (int i = 0; i < 20 && result >= 0; ++i)
                                      result = sd_bus_message_append(m, "(isvu)", 1 + 2 * (i % 2),
                                                                     "clicked", "i", 0, 0u);
                                  return result >= 0 ? sd_bus_message_close_container(m) : result;
                              });
         },
         1, 1},
    };
    for (const ClickCase& click : cases) {
        SCOPED_TRACE(click.name);
        config_clicks_ = exit_clicks_ = 0;
        EXPECT_EQ(AsHost(click.click), "");
        loop_.ProcessPending();
        EXPECT_EQ(config_clicks_, click.config);
        EXPECT_EQ(exit_clicks_, click.exit);
    }
}

// Exit ends the program: its action may tear the tray and the bus down at once.
TEST_F(TrayTest, ExitMayReleaseTheTrayAndTheBus) {
    on_exit_ = [this] {
        tray_.reset();
        bus_.reset();
    };
    EXPECT_EQ(AsHost([](const Host& host) { return host.Click(3); }), "");
    ASSERT_TRUE(RunUntil(loop_, [&] { return exit_clicks_ == 1; }));
    EXPECT_EQ(bus_, nullptr);
}

struct BadCallCase {
    const char* name;
    const char* path;
    const char* interface;
    const char* member;
    std::function<int(sd_bus_message*)> fill;
};

TEST_F(TrayTest, MalformedCallsAreRefusedAndChangeNothing) {
    const BadCallCase cases[] = {
        {"Event on an unknown item", kTrayMenuObjectPath, kTrayMenuInterface, "Event",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "isvu", 99, "clicked", "s", "", 0u);
         }},
        {"Event on a negative item", kTrayMenuObjectPath, kTrayMenuInterface, "Event",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "isvu", -3, "clicked", "s", "", 0u);
         }},
        {"Event without its data", kTrayMenuObjectPath, kTrayMenuInterface, "Event",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "is", 3, "clicked"); }},
        {"Event with swapped arguments", kTrayMenuObjectPath, kTrayMenuInterface, "Event",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "siuv", "clicked", 3, 0u, "i", 1);
         }},
        {"EventGroup of unknown items only", kTrayMenuObjectPath, kTrayMenuInterface, "EventGroup",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "a(isvu)", 1, 42, "clicked", "i", 0, 0u);
         }},
        {"GetLayout of an unknown item", kTrayMenuObjectPath, kTrayMenuInterface, "GetLayout",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "iias", 42, -1, 0); }},
        {"GetProperty of an unknown property", kTrayMenuObjectPath, kTrayMenuInterface,
         "GetProperty", [](sd_bus_message* m) { return sd_bus_message_append(m, "is", 3, "x"); }},
        {"AboutToShow of an unknown item", kTrayMenuObjectPath, kTrayMenuInterface, "AboutToShow",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 77); }},
        {"Activate without coordinates", kTrayItemObjectPath, kTrayItemInterface, "Activate",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "now"); }},
    };
    tray_->SetMenuCaptions({u"Config", u"About", u"Exit"});
    const auto before = AsHost([](const Host& host) { return host.Layout(); });
    ASSERT_EQ(before.size(), 3u);
    for (const BadCallCase& bad : cases) {
        SCOPED_TRACE(bad.name);
        const std::string error = AsHost([&bad](const Host& host) {
            return host.Call(bad.path, bad.interface, bad.member, bad.fill);
        });
        EXPECT_EQ(error, SD_BUS_ERROR_INVALID_ARGS);
        loop_.ProcessPending();
        EXPECT_EQ(config_clicks_ + exit_clicks_, 0);
    }
    EXPECT_EQ(AsHost([](const Host& host) { return host.Layout(); }), before);
}

}  // namespace
}  // namespace korv::os_linux
