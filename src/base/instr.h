#pragma once
// The statement buffer and the tokens of the current statement.

#include <array>
#include <string_view>

#include "base/limits.h"

namespace quorvale {

/// One token: a word of at most 10 characters, left-justified and blank-padded.
class Token {
 public:
  Token() { chars_.fill(' '); }
  /// Makes a token of `text` (cut to 10 characters, blank-padded).
  explicit Token(std::string_view text) : Token() { assign(text); }
  void assign(std::string_view text) {
    chars_.fill(' ');
    for (std::size_t i = 0; i < text.size() && i < chars_.size(); ++i) chars_[i] = text[i];
  }
  void clear() { chars_.fill(' '); }
  /// All 10 characters, blanks included.
  std::string_view view() const { return {chars_.data(), chars_.size()}; }
  /// The token without its trailing blanks.
  std::string_view trimmed() const {
    std::size_t n = chars_.size();
    while (n > 0 && chars_[n - 1] == ' ') --n;
    return {chars_.data(), n};
  }
  char first() const { return chars_[0]; }
  bool blank() const { return chars_[0] == ' ' && trimmed().empty(); }
  char& operator[](std::size_t i) { return chars_[i]; }
  char operator[](std::size_t i) const { return chars_[i]; }
  /// True when the token equals `word` blank-padded to 10 characters.
  bool operator==(std::string_view word) const {
    if (word.size() > chars_.size()) return false;
    for (std::size_t i = 0; i < chars_.size(); ++i) {
      char c = i < word.size() ? word[i] : ' ';
      if (chars_[i] != c) return false;
    }
    return true;
  }
  bool operator==(const Token& other) const { return chars_ == other.chars_; }

 private:
  std::array<char, TOKLEN> chars_;
};

/// The command buffer CMD (positions 1..MAXCHR, position 0 unused) and the
/// tokens TOKEN(1..MAXTOK) of the current statement (entry 0 unused).
struct Instr {
  std::array<char, MAXCHR + 1> CMD;
  std::array<Token, MAXTOK + 1> TOKEN;
  std::array<int, MAXTOK + 1> TOKPOS{};  ///< position in CMD where token i starts

  /// The word of the statement as typed (case kept, any length) around
  /// token i: from its first character to the next blank or ';'.
  std::string_view raw_word(int i) const {
    if (i < 1 || i > MAXTOK || TOKPOS[i] < 1) return {};
    int end = TOKPOS[i];
    while (end <= MAXCHR && CMD[end] != ' ' && CMD[end] != ';') ++end;
    return text(TOKPOS[i], end - 1);
  }

  Instr() { CMD.fill(' '); }
  /// The text CMD(from:to), 1-based and inclusive; empty when to < from.
  std::string_view text(int from, int to) const {
    if (to < from) return {};
    return {CMD.data() + from, static_cast<std::size_t>(to - from + 1)};
  }
  /// Token i (1-based); tokens beyond MAXTOK read as blank.
  const Token& token(int i) const {
    static const Token kBlank;
    return (i >= 1 && i <= MAXTOK) ? TOKEN[i] : kBlank;
  }
};

}  // namespace quorvale
