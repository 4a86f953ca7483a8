// tavo/basic.h - console input and timing helpers for small interactive
// programs and measurements.
//
// Prompted reading from std::cin: each prompt is written to std::cout
// unchanged (no blank, colon or newline added), and each reading function
// consumes whole input lines: what follows the answer on its line is
// discarded. Messages go to std::cout as well. Line reading and skipping work
// on any input stream. The timing functions are public names over
// TAVO::used_time and TAVO::sleep (tavo/runtime.h).
//
// End of input: read_int reports error_handler(1, "read_int: end of input")
// (fatal under the standard handler; 0 if an installed handler returns)
// rather than asking again for ever. read_char then returns '\0', read_real
// 0.0; read_string and read_line return the text read so far ("" if none).
//
// Cost: linear in the characters read. Threads: one (the standard streams are
// used without locking).
#ifndef TAVO_BASIC_H
#define TAVO_BASIC_H

#include "tavo/startup.h"

#include <iosfwd>

#include "tavo/string.h"

// isspace(ch) of the C library (ch taken as unsigned char).
bool tavo_isspace(char ch);

// TAVO::sleep(sec): waits sec seconds, to the microsecond; a signal ends the
// wait early. Durations are clamped into 0 .. 2147.483647 s.
void tavo_wait(double sec);

// User processor time of the process so far, in seconds.
float used_time();
// Stores used_time() into T; returns the new T minus the old one.
float used_time(float& T);

// Writes " time = %.2f sec" with used_time() and an end of line (with flush)
// to std::cout.
void print_time();
// Writes s, then print_time(): "sort time = 0.00 sec".
void print_time(tavo_string s);

// True when the environment variable var is set, even to "".
bool get_environment(tavo_string var);
// As above; when it is set, value becomes its text, otherwise value is left
// as it was.
bool get_environment(tavo_string var, tavo_string& value);

// read_char(prompt) is 'y' or 'Y' (only the first character of the answer
// counts; an empty line is false).
bool Yes(tavo_string prompt);
bool Yes();

// Writes prompt and extracts an int with >> (leading whitespace, newlines
// included, is skipped); on success discards the rest of the line. A
// character that stops the extraction is reported on std::cout as
// "read_int: illegal input \"%c\"\n", the rest of its line is discarded and
// the prompt is written again. At end of input (or on a bad stream): see the
// top of this file.
int read_int(tavo_string prompt);
int read_int();

// Writes prompt, reads one character without skipping whitespace (an empty
// line gives '\n') and discards the rest of its line: every call consumes
// one line. '\0' at end of input.
char read_char(tavo_string prompt);
char read_char();

// Writes prompt, extracts a double with >> and discards the rest of the line.
// No retry and no message: when the input is no number (or out of the range
// of double) the result is 0.0 and that line is discarded (the stream is
// usable again); at end of input 0.0 (and the stream shows the end).
double read_real(tavo_string prompt);
double read_real();

// Writes prompt, flushes std::cout, returns read_line(std::cin).
tavo_string read_string(tavo_string prompt);
tavo_string read_string();

// The next line of in without its newline (consumed); lines of any length
// are read whole. A stream that has failed gives "" at once.
tavo_string read_line(std::istream& in);

// Discards characters up to and including the next newline, or up to the end
// of input; does nothing on a failed stream.
void skip_line(std::istream& in);

#endif  // TAVO_BASIC_H
