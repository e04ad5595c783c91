#include "support/port_script.h"

#include <ostream>
#include <stdexcept>

namespace omzi2c::testing {

namespace {

size_t Skip(const std::string& text, size_t at) {
  while (at < text.size() && text[at] == ' ')
    ++at;
  return at;
}

size_t RepeatCount(const std::string& text, size_t* at) {
  if (*at >= text.size() || text[*at] != '*') return 1;
  size_t used = 0;
  const size_t count = std::stoul(text.substr(*at + 1), &used);
  *at += 1 + used;
  return count;
}

Event ParseToken(uint16_t base, const std::string& token) {
  if (token == "p") return {true, {}, ntemu::BusyWaitUs(10)};
  const size_t equals = token.find('=');
  if ((token[0] != 'r' && token[0] != 'w') || equals == std::string::npos) {
    throw std::invalid_argument("bad script token '" + token + "'");
  }
  const uint32_t port = base + std::stoul(token.substr(1, equals - 1), nullptr, 16);
  const uint32_t value = std::stoul(token.substr(equals + 1), nullptr, 16);
  return {false, token[0] == 'r' ? ntemu::In8(port, value) : ntemu::Out8(port, value), {}};
}

// Parses from `at` up to the closing parenthesis of the group or the end.
Events ParseGroup(uint16_t base, const std::string& text, size_t* at) {
  Events events;
  for (*at = Skip(text, *at); *at < text.size() && text[*at] != ')'; *at = Skip(text, *at)) {
    Events item;
    if (text[*at] == '(') {
      ++*at;
      item = ParseGroup(base, text, at);
      ++*at;  // the closing parenthesis
    } else {
      const size_t end = text.find_first_of(" *)", *at);
      item = {ParseToken(base, text.substr(*at, end - *at))};
      *at = end == std::string::npos ? text.size() : end;
    }
    for (size_t n = RepeatCount(text, at); n > 0; --n)
      events.insert(events.end(), item.begin(), item.end());
  }
  return events;
}

}  // namespace

bool operator==(const Event& a, const Event& b) {
  if (a.isPause != b.isPause) return false;
  return a.isPause ? a.pause == b.pause : a.access == b.access;
}

std::ostream& operator<<(std::ostream& out, const Event& event) {
  if (event.isPause) return out << event.pause;
  return out << event.access;
}

Events ParseScript(uint16_t base, const std::string& text) {
  size_t at = 0;
  return ParseGroup(base, text, &at);
}

Events Recorded(const ntemu::Timeline& timeline) {
  Events events;
  for (const ntemu::Timeline::Entry& entry : timeline.Entries())
    events.push_back({entry.isPause, entry.access, entry.pause});
  return events;
}

}  // namespace omzi2c::testing
