// _basic.cpp - console input and timing helpers.
#include "tavo/basic.h"

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "tavo/error.h"
#include "tavo/runtime.h"

bool tavo_isspace(char ch) {
  return std::isspace(static_cast<unsigned char>(ch)) != 0;
}

void tavo_wait(double sec) {
  TAVO::sleep(sec);
}

float used_time() {
  return TAVO::used_time();
}

float used_time(float& T) {
  return TAVO::used_time(T);
}

void print_time() {
  std::cout << tavo_string(" time = %.2f sec", used_time()) << std::endl;
}

void print_time(tavo_string s) {
  std::cout << s;
  print_time();
}

bool get_environment(tavo_string var) {
  return std::getenv(var) != nullptr;
}

bool get_environment(tavo_string var, tavo_string& value) {
  const char* text = std::getenv(var);
  if (text == nullptr) return false;
  value = text;
  return true;
}

bool Yes(tavo_string prompt) {
  const char answer = read_char(prompt);
  return answer == 'y' || answer == 'Y';
}

bool Yes() {
  return Yes("");
}

int read_int(tavo_string prompt) {
  for (;;) {
    std::cout << prompt;
    int x = 0;
    if (std::cin >> x) {
      skip_line(std::cin);
      return x;
    }
    std::cin.clear();
    const int ch = std::cin.get();
    // Without another character the loop would ask for ever.
    if (ch == std::char_traits<char>::eof()) break;
    std::cout << tavo_string("read_int: illegal input \"%c\"\n", static_cast<char>(ch));
    if (ch != '\n') skip_line(std::cin);
  }
  error_handler(1, "read_int: end of input");
  return 0;
}

int read_int() {
  return read_int("");
}

char read_char(tavo_string prompt) {
  std::cout << prompt;
  const int ch = std::cin.get();
  if (ch == std::char_traits<char>::eof()) return '\0';
  if (ch != '\n') skip_line(std::cin);
  return static_cast<char>(ch);
}

char read_char() {
  return read_char("");
}

double read_real(tavo_string prompt) {
  std::cout << prompt;
  double x = 0;
  if (!(std::cin >> x)) {
    // No number: discard the line, so that the next reading starts afresh
    // (at the end of input the stream keeps showing it).
    x = 0;
    std::cin.clear();
  }
  skip_line(std::cin);
  return x;
}

double read_real() {
  return read_real("");
}

tavo_string read_string(tavo_string prompt) {
  std::cout << prompt;
  std::cout.flush();
  return read_line(std::cin);
}

tavo_string read_string() {
  return read_string("");
}

tavo_string read_line(std::istream& in) {
  tavo_string line;
  line.read_line(in);
  return line;
}

void skip_line(std::istream& in) {
  in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
}
