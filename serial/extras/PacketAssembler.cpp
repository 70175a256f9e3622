#include "serial/extras/PacketAssembler.h"

#include <algorithm>

namespace serial {
namespace {

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

TPacketPiece Discard(TDiscardReason reason, std::string bytes) {
  TPacketPiece piece;
  piece.Reason = reason;
  piece.Bytes = std::move(bytes);
  return piece;
}

}  // namespace

TPacketAssembler::TPieces TPacketAssembler::SetSettings(const TPacketSettings& settings) {
  if (settings == settings_) return {};
  TPieces out = Clear();
  settings_ = settings;
  Restart();
  return out;
}

TPacketAssembler::TPieces TPacketAssembler::Feed(std::string_view bytes, TTime now) {
  TPieces out = CheckTimeout(now);
  if (!HasRule()) {
    // Nothing is held, so nothing overflows: a long run is given out in pieces of the maximum.
    const size_t max =
        settings_.MaxBufferSize > 0 ? static_cast<size_t>(settings_.MaxBufferSize) : bytes.size();
    while (!bytes.empty()) {
      TPacketPiece piece;
      piece.Packet = true;
      piece.Bytes = std::string(bytes.substr(0, max));
      bytes.remove_prefix(piece.Bytes.size());
      out.push_back(std::move(piece));
    }
    return out;
  }
  for (char byte : bytes) Take(byte, now, out);
  return out;
}

TPacketAssembler::TPieces TPacketAssembler::CheckTimeout(TTime now) {
  TPieces out;
  const std::optional<TTime> deadline = Deadline();
  if (deadline && now >= *deadline) Drop(drTimeout, out);
  return out;
}

TPacketAssembler::TPieces TPacketAssembler::Clear() {
  TPieces out;
  Drop(drCleared, out);
  return out;
}

std::optional<TPacketAssembler::TTime> TPacketAssembler::Deadline() const {
  if (held_.empty() || settings_.Timeout <= 0) return std::nullopt;
  return began_ + std::chrono::milliseconds(settings_.Timeout);
}

bool TPacketAssembler::HasRule() const {
  return !settings_.StartString.empty() || !settings_.StopString.empty() || settings_.Size > 0;
}

bool TPacketAssembler::EndsWith(const std::string& tail) const {
  if (tail.empty() || held_.size() < tail.size()) return false;
  const auto from = held_.end() - static_cast<std::ptrdiff_t>(tail.size());
  if (!settings_.CaseInsensitive) return std::equal(tail.begin(), tail.end(), from);
  return std::equal(tail.begin(), tail.end(), from,
                    [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
}

void TPacketAssembler::Take(char byte, TTime now, TPieces& out) {
  const size_t max = settings_.MaxBufferSize > 0 ? static_cast<size_t>(settings_.MaxBufferSize) : 0;
  if (max > 0 && held_.size() >= max) Drop(drOverflow, out);
  if (held_.empty()) began_ = now;
  held_.push_back(byte);

  const std::string& start = settings_.StartString;
  const std::string& stop = settings_.StopString;
  if (!inPacket_) {
    if (!EndsWith(start)) return;
    const size_t before = held_.size() - start.size();
    if (before > 0) {
      out.push_back(Discard(drNoStart, held_.substr(0, before)));
      held_.erase(0, before);
    }
    inPacket_ = true;
    began_ = now;
    return;
  }

  const size_t body = held_.size() - start.size();
  if (body >= stop.size() && EndsWith(stop)) {
    Cut(stop.size(), out);
  } else if (settings_.Size > 0 && body >= static_cast<size_t>(settings_.Size)) {
    Cut(0, out);
  } else if (stop.empty() && settings_.Size <= 0 && body >= start.size() && EndsWith(start)) {
    // The start string alone: the next one ends this packet and begins the next.
    std::string next = held_.substr(held_.size() - start.size());
    held_.resize(held_.size() - start.size());
    Cut(0, out);
    held_ = std::move(next);
    inPacket_ = true;
    began_ = now;
  }
}

void TPacketAssembler::Cut(size_t stopLength, TPieces& out) {
  TPacketPiece piece;
  piece.Packet = true;
  if (settings_.IncludeStrings) {
    piece.Bytes = std::move(held_);
  } else {
    const size_t startLength = settings_.StartString.size();
    piece.Bytes = held_.substr(startLength, held_.size() - startLength - stopLength);
    piece.StartLength = static_cast<int32_t>(startLength);
    piece.StopLength = static_cast<int32_t>(stopLength);
  }
  out.push_back(std::move(piece));
  Restart();
}

void TPacketAssembler::Drop(TDiscardReason reason, TPieces& out) {
  if (!held_.empty()) out.push_back(Discard(reason, std::move(held_)));
  Restart();
}

void TPacketAssembler::Restart() {
  held_.clear();
  inPacket_ = settings_.StartString.empty();
}

}  // namespace serial
