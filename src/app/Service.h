#pragma once

#include "base/SharedObject.h"
#include "core/CertManager.h"
#include "core/FlowTable.h"
#include "core/KeyvoraFlow.h"
#include "core/RequestDispatcher.h"
#include "leds/KVLedController.h"
#include "leds/KVLedScheduler.h"
#include "midi/MidiManagerHandler.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/RepeatingTimer.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/http/HttpTransfers.h"
#include "platform/net/WebSocketLimits.h"
#include "playback/Metronome.h"
#include "playback/PlayLifecycle.h"
#include "playback/SongObject.h"
#include "playback/SoundSystem.h"
#include "stems/StemsPlayer.h"
#include "store/Database.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kv {

class SocketService;

struct ServiceSettings {
    std::vector<std::uint16_t> ports{19420, 19421};
    std::vector<std::uint16_t> portsSSL{19520, 19521};
    WebSocketLimits limits;
    // The build's manifest and the user's certificate folder when absent.
    std::optional<CertManager::Settings> certificates;
    // "keyvora.sqlite" in the store root when empty.
    std::filesystem::path database;
    // How long an output nothing needs stays open after its last sound.
    std::chrono::nanoseconds quietBeforeRest = SoundSystem::kQuietBeforeRest;
};

// The whole service. It builds the subsystems in the order of the launch and owns them; each
// is its class's shared() while the service lives. stop() ends every thread, the last started
// first, before anything is destroyed: nothing runs on into an object that is gone.
class Service {
public:
    explicit Service(ServiceSettings settings = {});
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The launch: startListeners(), then startDevices().
    void start();
    // The plain and TLS listeners, and with them the certificate manager.
    void startListeners();
    // The MIDI device manager and the count-off sounds.
    void startDevices();
    // start(), then blocks until quit(), SIGTERM or SIGINT, and stops.
    void run();

    // Safe from any thread.
    void quit();
    void stop();

    MainQueue& mainQueue() { return mainQueue_; }
    SerialQueue& network() { return network_; }
    // The ports being served, once their listeners have started.
    std::optional<std::uint16_t> plainPort();
    std::optional<std::uint16_t> tlsPort();
    SocketService& socketService() { return *socketService_; }

private:
    bool openStore();

    ServiceSettings settings_;
    MainQueue mainQueue_;
    Shared<MainQueue> mainShared_{mainQueue_};
    SerialQueue network_{"Network"};
    SharedObject<Database> database_;
    const bool storeOpened_;  // then the start banner: before anything else has a say in the log
    SharedObject<KeyvoraFlow> session_;
    // Before what holds its nodes and synthesizer channels: the song, the lights, the manager.
    SharedObject<SoundSystem> sound_{settings_.quietBeforeRest};
    SharedObject<SongObject> song_;
    KVLedController ledController_;
    SharedObject<KVLedScheduler> ledScheduler_;
    SharedObject<Metronome> metronome_;
    // Where each play hands over its count-off, song and clicks, one play after another.
    SerialQueue playback_{"Playback"};
    HttpTransfers transfers_;
    SharedObject<StemsPlayer> stemsPlayer_;
    SharedObject<PlayLifecycle> lifecycle_;
    SharedObject<CertManager> certManager_;
    FlowTable flows_;
    RequestDispatcher dispatcher_;
    std::shared_ptr<SocketService> socketService_;
    SharedObject<MidiManagerHandler> midiManager_;
    // The sound output and the keyboards, checked every second on the main queue.
    std::unique_ptr<RepeatingTimer> deviceCheck_;

    std::mutex quitMutex_;
    std::condition_variable quitRequested_;
    bool quitting_ = false;
    bool stopped_ = false;
};

}  // namespace kv
