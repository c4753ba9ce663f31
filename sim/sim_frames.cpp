#include "sim/sim_frames.h"

#include <algorithm>
#include <cstdio>

std::uint8_t ReceiverFrameChecksum(std::uint8_t tag0, std::uint8_t tag1, std::string_view text) {
    unsigned sum = frame::kReceiverAddr0 + frame::kReceiverAddr1 + tag0 + tag1;
    sum += static_cast<unsigned>(text.size() + frame::kTagSize);
    for (char c : text)
        sum += static_cast<std::uint8_t>(c);
    return static_cast<std::uint8_t>(sum);
}

std::vector<std::uint8_t> BuildReceiverFrame(std::uint8_t tag0, std::uint8_t tag1,
                                             std::string_view text, bool badChecksum) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() + frame::kOverhead);
    bytes.push_back(frame::kReceiverAddr0);
    bytes.push_back(frame::kReceiverAddr1);
    bytes.push_back(static_cast<std::uint8_t>(text.size() + frame::kTagSize));
    bytes.push_back(tag0);
    bytes.push_back(tag1);
    bytes.insert(bytes.end(), text.begin(), text.end());
    std::uint8_t checksum = frame::Checksum(bytes.data(), bytes.data() + bytes.size());
    if (badChecksum) {
        // Wrong by one, and never 0x00, which the tool's port would discard
        // (the frame would then swallow the next frame's first byte instead).
        checksum = static_cast<std::uint8_t>(checksum + 1);
        if (checksum == 0)
            checksum = 2;
    }
    bytes.push_back(checksum);
    return bytes;
}

void TagSequence::Next(std::string_view text, std::uint8_t* tag0, std::uint8_t* tag1) {
    for (;;) {
        const std::uint16_t value = m_wNext++;
        *tag0 = static_cast<std::uint8_t>(value >> 8);
        *tag1 = static_cast<std::uint8_t>(value);
        if (*tag0 != 0 && *tag1 != 0 && ReceiverFrameChecksum(*tag0, *tag1, text) != 0)
            return;
    }
}

std::string ToolFrame::Text() const {
    return std::string(TextView());
}

std::string_view ToolFrame::TextView() const {
    if (payload.size() <= frame::kTextOffset)
        return {};
    return {reinterpret_cast<const char*>(payload.data()) + frame::kTextOffset, payload.size() - frame::kTextOffset};
}

void ToolFrameParser::Feed(const std::uint8_t* data, std::size_t size) {
    m_abyBuffer.insert(m_abyBuffer.end(), data, data + size);
}

std::optional<ToolFrame> ToolFrameParser::Next() {
    for (;;) {
        // Find the preamble; everything in front of it is stray.
        std::size_t start = 0;
        while (start + 1 < m_abyBuffer.size() &&
               !(m_abyBuffer[start] == frame::kPreambleByte && m_abyBuffer[start + 1] == frame::kPreambleByte))
            ++start;
        if (start + 1 >= m_abyBuffer.size()) {
            // No preamble yet: keep a trailing 0xFF, report the rest once it
            // can no longer start one.
            const std::size_t keep = (!m_abyBuffer.empty() && m_abyBuffer.back() == frame::kPreambleByte) ? 1 : 0;
            const std::size_t stray = m_abyBuffer.size() - keep;
            if (stray > 0) {
                m_problems.push_back("tool sent " + std::to_string(stray) + " stray byte(s): " +
                                     BytesAsText(m_abyBuffer.data(), std::min<std::size_t>(stray, 16)));
                m_abyBuffer.erase(m_abyBuffer.begin(), m_abyBuffer.begin() + static_cast<long>(stray));
            }
            return std::nullopt;
        }
        if (start > 0) {
            m_problems.push_back("tool sent " + std::to_string(start) + " stray byte(s) before a frame: " +
                                 BytesAsText(m_abyBuffer.data(), std::min<std::size_t>(start, 16)));
            m_abyBuffer.erase(m_abyBuffer.begin(), m_abyBuffer.begin() + static_cast<long>(start));
        }
        // FF FF a0 a1 L payload cs
        if (m_abyBuffer.size() < frame::kHeaderSize)
            return std::nullopt;
        const std::size_t length = m_abyBuffer[4];
        const std::size_t total = length + frame::kOverhead;
        if (m_abyBuffer.size() < total)
            return std::nullopt;
        ToolFrame frame;
        frame.addr0 = m_abyBuffer[2];
        frame.addr1 = m_abyBuffer[3];
        frame.payload.assign(m_abyBuffer.begin() + frame::kHeaderSize,
                             m_abyBuffer.begin() + static_cast<long>(frame::kHeaderSize + length));
        const std::uint8_t checksum = m_abyBuffer[total - 1];
        const std::uint8_t expected =
            frame::Checksum(m_abyBuffer.data() + frame::kPreambleSize, m_abyBuffer.data() + total - 1);
        m_abyBuffer.erase(m_abyBuffer.begin(), m_abyBuffer.begin() + static_cast<long>(total));
        if (frame.addr0 != frame::kToolAddr0 || frame.addr1 != frame::kToolAddr1) {
            char text[64];
            std::snprintf(text, sizeof text, "tool frame with address bytes %02X %02X (expected 01 FE)",
                          frame.addr0, frame.addr1);
            m_problems.push_back(text);
        }
        if (checksum != expected) {
            char text[80];
            std::snprintf(text, sizeof text, "tool frame (L=%zu) with checksum %02X (expected %02X)", length,
                          checksum, expected);
            m_problems.push_back(text);
            continue;
        }
        return frame;
    }
}

std::vector<std::string> ToolFrameParser::TakeProblems() {
    std::vector<std::string> problems;
    problems.swap(m_problems);
    return problems;
}

void ToolFrameParser::Reset() {
    m_abyBuffer.clear();
}

std::string BytesAsText(const std::uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t c = data[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    return text;
}
