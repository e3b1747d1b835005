// The text forms of the S3 protocol, as pure functions: the percent-encoding
// and sorted query that Signature V4 signs, the few XML elements the
// replies carry, the time stamps of headers and lock dates, and the ETag a
// multipart upload is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qn::storage::s3 {

// RFC 3986 percent-encoding of everything but the unreserved characters
// (and '/' when keepSlash), as SigV4's canonical form requires.
std::string UriEncode(std::string_view text, bool keepSlash);
// "a=1&b=" from parameters, sorted by name and encoded, a valueless one
// keeping its '=' (libcurl 7.88.1 signs the query as it is given).
std::string CanonicalQuery(std::vector<std::pair<std::string, std::string>> parameters);

// The texts of every <tag>...</tag> in a document, entities decoded; the
// replies are flat enough that no XML parser is needed.
std::vector<std::string> XmlValues(std::string_view xml, std::string_view tag);
std::string XmlValue(std::string_view xml, std::string_view tag);  // the first, "" when none
std::string XmlEscape(std::string_view text);

// "2026-12-09T05:49:10.000Z" and back (a lock's end, a list's time stamps).
std::string FormatIsoTime(int64_t unixSeconds);
int64_t ParseIsoTime(std::string_view text);  // 0 when it is not one
// "Wed, 09 Dec 2026 05:49:10 GMT" (Last-Modified), 0 when it is not one.
int64_t ParseHttpDate(std::string_view text);

// An ETag without its quotes.
std::string Unquoted(std::string_view etag);
// The ETag S3 gives a multipart upload: the MD5 of the parts' raw MD5s
// joined, "-" and the number of parts.
std::string MultipartEtag(const std::vector<std::string>& partMd5s);

}  // namespace qn::storage::s3
