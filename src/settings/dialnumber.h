// The dial-number rule shared by the program and the command-line tools: which characters a fax
// number may hold and what of it the modem is given. A number may hold digits, blanks, + - ( ) .
// for readability, and the dial modifiers fax modems understand: "," (pause), W (wait for dial
// tone), P and T (pulse and tone), "!" (hook flash), "@" (wait for quiet) and the tone keys * and
// #. Anything else makes the modem answer ERROR to the dial command.
// Guarantees: plain C++; the dial string holds only dialable ASCII characters, modifiers in upper
// case, whatever bytes the number holds (UTF-8 sequences are never dialable).
#pragma once

#include <string>
#include <string_view>

namespace telvane::settings {

// A character the modem dials: a digit or a modifier (either case), * or #.
bool isDialableCharacter(char32_t c);
// A character kept only for the eye and left out of the dial string: blank, tab, + - ( ) .
bool isReadabilityMark(char32_t c);

// True when every character of the number is dialable or a readability mark.
bool isFaxNumberWellFormed(std::string_view number);

// The number as the modem dials it: the dialable characters, modifiers in upper case.
std::string dialableNumber(std::string_view number);

}  // namespace telvane::settings
