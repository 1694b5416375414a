// ASCII letter case for names the program matches itself (command-line options, the null
// device's name). Only A-Z and a-z are folded; every other byte, UTF-8 included, must be
// equal. Header-only, so that every layer can use it.
#ifndef TARVEL_PLATFORM_ASCII_H_
#define TARVEL_PLATFORM_ASCII_H_

inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the two zero-terminated strings are equal but for the case of ASCII letters.
inline bool ascii_equal_ignoring_case(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
    a++;
    b++;
  }
  return *a == *b;
}

#endif  // TARVEL_PLATFORM_ASCII_H_
