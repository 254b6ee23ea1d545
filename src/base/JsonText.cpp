#include "base/JsonText.h"

#include <stdexcept>

namespace kv {

namespace {

// Counts depth while nlohmann parses, so that a hostile text is refused before it is built.
class DepthLimitedSax : public nlohmann::json_sax<nlohmann::json> {
public:
    using json = nlohmann::json;
    explicit DepthLimitedSax(json& result) : builder_(result, false) {}

    bool null() override { return builder_.null(); }
    bool boolean(bool value) override { return builder_.boolean(value); }
    bool number_integer(number_integer_t value) override { return builder_.number_integer(value); }
    bool number_unsigned(number_unsigned_t value) override { return builder_.number_unsigned(value); }
    bool number_float(number_float_t value, const string_t& text) override {
        return builder_.number_float(value, text);
    }
    bool string(string_t& value) override { return builder_.string(value); }
    bool binary(binary_t& value) override { return builder_.binary(value); }
    bool start_object(std::size_t size) override { return enter() && builder_.start_object(size); }
    bool key(string_t& value) override { return builder_.key(value); }
    bool end_object() override { --depth_; return builder_.end_object(); }
    bool start_array(std::size_t size) override { return enter() && builder_.start_array(size); }
    bool end_array() override { --depth_; return builder_.end_array(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        invalid_ = true;
        return false;
    }

    bool tooDeep() const { return tooDeep_; }
    bool invalid() const { return invalid_; }

private:
    bool enter() {
        if (++depth_ <= kMaxJsonDepth) return true;
        tooDeep_ = true;
        return false;
    }

    nlohmann::detail::json_sax_dom_parser<json> builder_;
    int depth_ = 0;
    bool tooDeep_ = false;
    bool invalid_ = false;
};

}  // namespace

std::string toJSONText(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<nlohmann::json> JSONStringToDictionary(std::string_view text) {
    nlohmann::json result;
    DepthLimitedSax sax(result);
    const bool parsed = nlohmann::json::sax_parse(text, &sax);
    if (sax.tooDeep()) {
        throw std::runtime_error("JSON nested deeper than " + std::to_string(kMaxJsonDepth) +
                                 " levels");
    }
    if (!parsed || sax.invalid()) return std::nullopt;
    return result;
}

}  // namespace kv
