#pragma once

#include "core/BaseFlow.h"

namespace kv {

// 6: keeps a song's MIDI file, enciphered, and answers its tempo map and instruments.
class SaveMidiCacheFlow : public BaseFlow {
public:
    nlohmann::json processData(const nlohmann::json& requestData, const std::string& socketSessionID,
                               const BaseRequestJSONObject& request) override;
};

}  // namespace kv
