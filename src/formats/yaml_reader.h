// YAML text into a generic value, through libyaml's event parser. Plain
// scalars are typed (null, bool, integer, float words and numbers), quoted
// scalars stay strings, anchors and aliases are resolved by copying.
#pragma once

#include <cstddef>
#include <string>

#include "formats/reader_limits.h"
#include "values/binding_property.h"

namespace Zarn {

// Most nodes that alias copies may add to one tree, counted over every
// alias of a parse (each copied node counts, scalars included). A few lines
// of nested aliases could otherwise expand into gigabytes.
constexpr size_t kMaxAliasCopyNodes = 1000000;

// Parses size bytes of UTF-8 YAML (NUL bytes included; text may be null when
// size is 0). Success holds the value of the single document (an empty text
// or an empty document gives an empty value). Failure holds the message in
// the "error" member; the partly built tree is dropped. Messages carry the
// 1-based line and column of the offending event, except the libyaml parser
// error "YAML parser error: <problem>. At line: <l> col: <c>", whose mark is
// libyaml's own, counted from 0. Limits: containers nest at most
// kMaxNestingDepth levels, alias copies included ("Nesting deeper than 512
// levels. At line: l col: c"), and alias copies add at most
// kMaxAliasCopyNodes nodes ("Aliases expand beyond 1000000 nodes. Alias
// "name". At line: l col: c").
BindingResult ParseYaml(const char* text, size_t size);
BindingResult ParseYaml(const std::string& text);

}  // namespace Zarn
