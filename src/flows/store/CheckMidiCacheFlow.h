#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 5: whether a song's MIDI file is cached, with its tempo map, instruments and stamp.
class CheckMidiCacheFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv
