#include "app/AllFlows.h"
#include "base/Log.h"
#include "base/StoreRoot.h"
#include "core/CertManager.h"
#include "core/RequestDispatcher.h"
#include "core/SocketService.h"
#include "midi/MidiManagerHandler.h"
#include "platform/dispatch/MainLoop.h"
#include "playback/CountOff.h"
#include "playback/Metronome.h"
#include "playback/SharedAudio.h"
#include "store/Database.h"
#include "store/File.h"

#include <boost/asio/signal_set.hpp>

#include <csignal>

int main() {
    using namespace kv;
    auto& mainLoop = MainLoop::shared();

    Database::shared().open(File::getRootPath() / Database::kFileName);
    logText(kLogAppState, "=============START KEYVORA============");
    logText(kLogInfo, storeRoot().string());
    const FlowTable flows = makeAllFlows();
    RequestDispatcher dispatcher(flows);
    const auto socketService = std::make_shared<SocketService>(mainLoop.context(), dispatcher,
                                                               CertManager::shared());
    socketService->createServer();
    sharedSynthesizer();
    MidiManagerHandler::shared().createDeviceManager(mainLoop.context().get_executor());
    Metronome::shared();
    loadCountOffFiles();

    boost::asio::signal_set stopSignals(mainLoop.context(), SIGINT, SIGTERM);
    stopSignals.async_wait([&mainLoop](const boost::system::error_code& error, int) {
        if (error) return;
        logText(kLogAppState, "=============STOP KEYVORA=============\n");
        mainLoop.stop();
    });
    mainLoop.run();
    return 0;
}
