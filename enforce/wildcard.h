// Wildcard matching of program names against watch-list patterns.
//
// Pattern syntax, all of it case-sensitive on the pattern side:
//   *      any run of characters, the empty one included
//   ?      exactly one character
//   [...]  one character from a set of members and ranges "X-Y"; there is
//          no negation ("!" and "^" are ordinary members) and no escape,
//          and "]" always closes the set, so it can never be a member
//   other  itself
// Text characters are upper-cased (a-z only) before they are compared, so an
// upper-case pattern letter matches either case and a lower-case one never
// matches. Both strings end at their first NUL byte, if they hold one.
#pragma once

#include <string_view>

namespace zw {

/// 1 when the whole of `text` matches the whole of `pattern`, else 0.
/// A pattern with a set that is never closed matches no text at all.
/// Time is O(|text| * |pattern|) whatever the number of stars.
int WildcardMatch(std::string_view text, std::string_view pattern);

}  // namespace zw
