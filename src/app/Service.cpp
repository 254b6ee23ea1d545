#include "app/Service.h"

#include "app/AllFlows.h"
#include "base/Log.h"
#include "base/StoreRoot.h"
#include "core/SocketService.h"
#include "platform/desktop/Resources.h"
#include "playback/CountOff.h"
#include "store/File.h"

#include <boost/asio/signal_set.hpp>

#include <csignal>

namespace kv {

namespace {

constexpr auto kDeviceCheckEvery = std::chrono::seconds(1);

CertManager::Settings certificateSettings(const ServiceSettings& settings, MainQueue& mainQueue) {
    CertManager::Settings certificates = settings.certificates.value_or(CertManager::Settings::standard(mainQueue.executor()));
    certificates.mainExecutor = mainQueue.executor();
    return certificates;
}

}  // namespace

Service::Service(ServiceSettings settings)
    : settings_(std::move(settings)),
      storeOpened_(openStore()),
      ledScheduler_(ledController_),
      metronome_(sound_->engine(), resourcePath("sounds/tick.wav")),
      stemsPlayer_(sound_->engine(), mainQueue_.executor(), transfers_),
      lifecycle_(mainQueue_.executor(),
                 PlayLifecycle::Parts{*session_, *song_, sound_->synthesizer(), *metronome_, playback_,
                                                      *ledScheduler_, *stemsPlayer_, *sound_}),
      certManager_(certificateSettings(settings_, mainQueue_), transfers_),
      flows_(makeAllFlows()),
      dispatcher_(flows_, *session_),
      socketService_(std::make_shared<SocketService>(network_.context(), mainQueue_.executor(), dispatcher_,
                                                     *certManager_, settings_.ports, settings_.portsSSL,
                                                     settings_.limits)),
      midiManager_(*session_, sound_->synthesizer(), *ledScheduler_, *database_, mainQueue_.executor()) {}

Service::~Service() {
    stop();
}

bool Service::openStore() {
    const bool opened = database_->open(settings_.database.empty() ? File::getRootPath() / Database::kFileName
                                                                     : settings_.database);
    logText(kLogAppState, "=============START KEYVORA============");
    logText(kLogInfo, storeRoot().string());
    return opened;
}

void Service::start() {
    startListeners();
    startDevices();
}

void Service::startListeners() {
    network_.sync([this] { socketService_->createServer(); });
}

void Service::startDevices() {
    mainQueue_.sync([this] {
        sound_->checkOutput();
        midiManager_->createDeviceManager();
        deviceCheck_ = std::make_unique<RepeatingTimer>(mainQueue_.executor(), kDeviceCheckEvery, [this] {
            sound_->checkOutput();
            midiManager_->checkDevices();
            // A keyboard is echoed as soon as it is chosen; a play wakes the output itself.
            sound_->restUnlessNeeded(midiManager_->keyboardOpen() ||
                                     lifecycle_->state() != PlayLifecycle::State::idle);
        });
        deviceCheck_->start();
        loadCountOffFiles(*song_, sound_->engine());
    });
}

// The signals are caught before the listeners open: a SIGTERM that follows the first answer
// still stops the service in order.
void Service::run() {
    boost::asio::signal_set stopSignals(network_.context());
    network_.sync([this, &stopSignals] {
        stopSignals.add(SIGINT);
        stopSignals.add(SIGTERM);
        stopSignals.async_wait([this](const boost::system::error_code& error, int) {
            if (!error) quit();
        });
    });
    start();
    {
        std::unique_lock lock(quitMutex_);
        quitRequested_.wait(lock, [this] { return quitting_; });
    }
    network_.sync([&stopSignals] { stopSignals.cancel(); });
    logText(kLogAppState, "=============STOP KEYVORA=============\n");
    stop();
}

void Service::quit() {
    {
        std::lock_guard lock(quitMutex_);
        quitting_ = true;
    }
    quitRequested_.notify_all();
}

// No request is taken any more and none waits, then the newest threads end first: the MIDI input
// and the device check, the playback and its clicks, the lights, the network, the certificate
// manager's queue, the main queue, the audio engine. Nothing on the main queue waits for a play or
// a request, so this never waits on one.
void Service::stop() {
    if (stopped_) return;
    stopped_ = true;
    network_.sync([this] { socketService_->stop(); });
    transfers_.stop();
    mainQueue_.sync([this] {
        dispatcher_.close();
        lifecycle_->shutdown();
        deviceCheck_.reset();
        midiManager_->stop();
    });
    playback_.stop();
    metronome_->stop();
    ledScheduler_->stop();
    network_.stop();
    certManager_->stop();
    mainQueue_.stop();
    sound_->engine().stop();
}

std::optional<std::uint16_t> Service::plainPort() {
    return network_.sync([this] { return socketService_->plainPort(); });
}

std::optional<std::uint16_t> Service::tlsPort() {
    return network_.sync([this] { return socketService_->tlsPort(); });
}

}  // namespace kv
