#pragma once

#include <cstdio>
#include <string>
#include <vector>

// "90 3C 40"
inline std::string hexText(const std::vector<unsigned char>& bytes) {
    std::string text;
    char digits[4];
    for (const unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        text += digits;
    }
    if (!text.empty()) text.pop_back();
    return text;
}
