#include "infoserver/peer_filter.h"

#include "base/text.h"

namespace qn {

namespace {

std::optional<std::array<uint8_t, 4>> ParseIpv4(std::string_view text) {
  std::array<uint8_t, 4> out{};
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
    int value = 0, digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    out[part] = static_cast<uint8_t>(value);
  }
  if (i != text.size()) return std::nullopt;
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The 16-bit groups of an IPv6 text, with "::" filled.
std::optional<TqnIpBytes> ParseIpv6(std::string_view text) {
  std::vector<uint16_t> head, tail;
  bool gap = false;
  size_t i = 0;
  if (text.substr(0, 2) == "::") {
    gap = true;
    i = 2;
  } else if (!text.empty() && text[0] == ':') {
    return std::nullopt;
  }
  while (i < text.size()) {
    std::vector<uint16_t>& groups = gap ? tail : head;
    const size_t end = text.find(':', i);
    const std::string_view group = text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    if (group.find('.') != std::string_view::npos) {
      // A dotted IPv4 tail takes the last two groups.
      if (end != std::string_view::npos) return std::nullopt;
      auto v4 = ParseIpv4(group);
      if (!v4) return std::nullopt;
      groups.push_back(static_cast<uint16_t>((*v4)[0] << 8 | (*v4)[1]));
      groups.push_back(static_cast<uint16_t>((*v4)[2] << 8 | (*v4)[3]));
      i = text.size();
      break;
    }
    if (group.empty() || group.size() > 4) return std::nullopt;
    int value = 0;
    for (char c : group) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      value = value * 16 + d;
    }
    groups.push_back(static_cast<uint16_t>(value));
    if (end == std::string_view::npos) {
      i = text.size();
      break;
    }
    i = end + 1;
    if (i < text.size() && text[i] == ':') {
      if (gap) return std::nullopt;  // a second "::"
      gap = true;
      ++i;
    } else if (i == text.size()) {
      return std::nullopt;  // a single trailing ':'
    }
  }
  const size_t count = head.size() + tail.size();
  if (gap ? count > 7 : count != 8) return std::nullopt;
  TqnIpBytes out{};
  for (size_t g = 0; g < head.size(); ++g) {
    out[2 * g] = static_cast<uint8_t>(head[g] >> 8);
    out[2 * g + 1] = static_cast<uint8_t>(head[g]);
  }
  for (size_t g = 0; g < tail.size(); ++g) {
    const size_t at = 8 - tail.size() + g;
    out[2 * at] = static_cast<uint8_t>(tail[g] >> 8);
    out[2 * at + 1] = static_cast<uint8_t>(tail[g]);
  }
  return out;
}

TqnIpBytes Mapped(const std::array<uint8_t, 4>& v4) {
  TqnIpBytes out{};
  out[10] = out[11] = 0xFF;
  for (int i = 0; i < 4; ++i) out[12 + i] = v4[i];
  return out;
}

bool PrefixMatches(const TqnIpBytes& a, const TqnIpBytes& network, int prefix) {
  for (int bit = 0; bit < prefix; bit += 8) {
    const int take = prefix - bit >= 8 ? 8 : prefix - bit;
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - take));
    if ((a[bit / 8] & mask) != (network[bit / 8] & mask)) return false;
  }
  return true;
}

const char* const kLocalNetworks[] = {
    "127.0.0.0/8",    "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
    "169.254.0.0/16", "::1/128",    "fc00::/7",      "fe80::/10",
};

}  // namespace

std::optional<TqnIpBytes> ParseIpAddress(std::string_view text) {
  if (text.find(':') == std::string_view::npos) {
    auto v4 = ParseIpv4(text);
    if (!v4) return std::nullopt;
    return Mapped(*v4);
  }
  return ParseIpv6(text);
}

std::optional<TqnPeerFilter::Rule> TqnPeerFilter::ParseRule(std::string_view item) {
  const size_t slash = item.find('/');
  auto address = ParseIpAddress(item.substr(0, slash));
  if (!address) return std::nullopt;
  // An IPv4 network's prefix counts IPv4 bits; held as a mapped IPv6
  // network it moves past the mapping's 96.
  const bool v4Text = item.substr(0, slash).find(':') == std::string_view::npos;
  Rule rule;
  rule.network = *address;
  rule.prefix = 128;
  if (slash != std::string_view::npos) {
    const std::string_view digits = item.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    int bits = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      bits = bits * 10 + (c - '0');
    }
    if (bits > (v4Text ? 32 : 128)) return std::nullopt;
    rule.prefix = v4Text ? 96 + bits : bits;
  }
  return rule;
}

TqnPeerFilter::TqnPeerFilter() {
  for (const char* network : kLocalNetworks) rules_.push_back(*ParseRule(network));
}

TqnPeerFilter TqnPeerFilter::FromSetting(std::string_view list, std::vector<std::string>* rejected) {
  TqnPeerFilter filter;
  std::vector<Rule> rules;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    const std::string item = TrimControl(list.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    if (auto rule = ParseRule(item)) {
      rules.push_back(*rule);
    } else if (rejected) {
      rejected->push_back(item);
    }
  }
  if (!rules.empty()) {
    filter.rules_ = std::move(rules);
    filter.isDefault_ = false;
  }
  return filter;
}

bool TqnPeerFilter::Allows(std::string_view peerAddress) const {
  auto address = ParseIpAddress(peerAddress);
  if (!address) return false;
  for (const Rule& rule : rules_) {
    if (PrefixMatches(*address, rule.network, rule.prefix)) return true;
  }
  return false;
}

}  // namespace qn
