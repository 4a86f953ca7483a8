// tavo/file.h - file system, process and host services: the calendar time,
// the home, current and temporary directory names, directory creation,
// change and listing, file-type tests, file size and deletion, the search of
// a file along a list of directories, background commands, the battery
// status and the host's name and identifier.
//
// What it is
//   Free functions over the POSIX calls of the same purpose, with tavo_string
//   for every name and tavo_list<tavo_string> for every list of names. They
//   keep no state. Names are used as given: a relative name is relative to
//   the process's current directory.
//
// Ownership
//   Results are values: strings and lists are returned by value (a list owns
//   copies of its names), nothing is kept by the library. get_host_info
//   writes into the caller's buffer.
//
// The shell
//   create_directory, delete_file and create_process go through the system
//   shell (system()). create_directory and delete_file quote the name: it is
//   put inside single quotes, each single quote in it written as '\'', and it
//   follows "--", so that blanks, newlines, wildcards and every other shell
//   metacharacter are plain characters of the name and a name that starts
//   with '-' is not taken for an option. create_process runs its argument as
//   a command line: quoting it is the caller's business.
//
// Cost
//   One system call (or a few) per function, except: create_directory,
//   delete_file and create_process start a shell (a fork and an exec or
//   more); the listings stat() every entry for get_files and get_directories
//   (O(n) entries and calls); first_file_in_path stat()s one candidate per
//   directory of the path and rebuilds the path string at each step
//   (O(length of path) per step).
//
// Failure
//   Services that can fail in ordinary use report it in their result:
//   create_directory, the file-type tests and apm_get_status return false,
//   create_process returns false for a non-zero shell status. Three misuses
//   are fatal, through error_handler with code 1:
//     size_of_file on a path that stat() cannot examine
//       "size_of_file: file does no exist"
//     set_directory with a path that is not a directory
//       "set_directory: <path> is not a directory."
//     get_entries, get_files, get_directories on a path that is not a
//     directory
//       "read_directory: <path> is not a directory."
//   Should an installed handler return, size_of_file gives -1, set_directory
//   changes nothing and returns the current directory, and the listings give
//   an empty list.
//
// Threads
//   One. set_directory changes the process-wide working directory, and the
//   relative names of every other thread with it.
#ifndef TAVO_FILE_H
#define TAVO_FILE_H

#include "tavo/startup.h"

#include "tavo/dlist.h"
#include "tavo/string.h"

// ---- time ---------------------------------------------------------------------
// The current local time: year (four digits), month 1..12, day 1..31, hour
// 0..23, minute 0..59, second 0..60.
void get_time(int& year, int& month, int& day, int& hour, int& minute, int& second);
// The current time as ctime() writes it, without the end of line: 24
// characters, "Tue Dec  8 21:10:14 2026". "" if the year needs more than four
// digits.
tavo_string time_string();

// ---- directories ----------------------------------------------------------------
// The value of HOME when it is set (even to ""), else "/tmp".
tavo_string get_home_directory();
// The absolute name of the current directory; "" when it does not fit 255
// characters (or cannot be had).
tavo_string get_directory();
// Makes dir the current directory and returns the previous one (as
// get_directory gives it). dir not a directory (is_directory): fatal,
// "set_directory: %s is not a directory." with dir for %s. A failing chdir()
// (dir without search permission) is not reported: the directory stays.
tavo_string set_directory(tavo_string dir);
// Creates the directory dir (shell "mkdir -- 'dir'", the parent must exist).
// False when anything, even a directory, already exists under that name,
// and when no directory exists afterwards; true otherwise.
bool create_directory(tavo_string dir);

// ---- file tests (false for every path that cannot be examined) -----------------------
// stat() succeeds and the file is a directory (symbolic links followed).
bool is_directory(tavo_string path);
// stat() succeeds and the file is a regular file (symbolic links followed).
bool is_file(tavo_string path);
// lstat() succeeds and the file is a symbolic link (not followed; a link
// to nothing is a link).
bool is_link(tavo_string path);
// The size in bytes that stat() reports (links followed). A file of 2 GiB or
// more gives INT_MAX (2147483647): the result is an int, and a clamped size
// is never mistaken for a small one. stat() fails: fatal, "size_of_file:
// file does no exist".
int size_of_file(tavo_string path);
// Removes the file path (shell "rm -f -- 'path'"; a directory is not
// removed). Returns true whether or not there was anything to remove.
bool delete_file(tavo_string path);
// A fresh name "<P_tmpdir>/tavo_" + 12 random letters and digits (P_tmpdir
// is "/tmp") that no file, and no symbolic link, has at the time of the
// call; the file is not created. Another process may take the name before
// the caller creates it: open it with O_CREAT | O_EXCL to be sure. "" when
// the directory cannot be examined (lstat fails other than with ENOENT), or
// should 100 drawn names in a row all be taken.
tavo_string tmp_file_name();

// ---- listings: bare entry names in the order readdir() gives them, not sorted ---
// Every entry of dir, "." and ".." included. Not a directory: fatal,
// "read_directory: %s is not a directory." with dir for %s. A directory
// that cannot be opened (no read permission) gives an empty list.
tavo_list<tavo_string> get_entries(tavo_string dir);
// The entries of dir that are regular files (is_file of dir/name, so links
// to regular files count). Failure as get_entries.
tavo_list<tavo_string> get_files(tavo_string dir);
// As get_files, only names that match the shell wildcard pattern:
// fnmatch(pattern, name, 0), where '*' and '?' match a leading '.' too, so
// "*.txt" finds ".notes.txt". Failure as get_entries.
tavo_list<tavo_string> get_files(tavo_string dir, tavo_string pattern);
// The entries of dir that are directories (links to directories count),
// "." and ".." included. Failure as get_entries.
tavo_list<tavo_string> get_directories(tavo_string dir);

// The first candidate dir + "/" + name, for the directories of path in their
// order, that is a regular file (is_file), or "". The directories are
// separated by sep, and by blanks as well; an empty entry (two separators in
// a row, or an empty path) stands for the root directory: "/" + name.
tavo_string first_file_in_path(tavo_string name, tavo_string path, char sep);

// ---- processes --------------------------------------------------------------------------
// Runs command + "&" through the shell, so that the command starts in the
// background; true when the shell's exit status is 0 (it is not the
// command's: a command that starts is a success). The command line is given
// to the shell as it is.
bool create_process(tavo_string command);

// ---- machine ----------------------------------------------------------------------------
// The battery status from the first line of "/proc/apm" (Linux APM), a line
// such as "1.16 1.2 0x03 0x01 0x00 0x01 85% 600 sec": ac_line the AC line
// status (hexadecimal field 4), percent the remaining charge (field 7,
// before '%'), minutes the remaining time (field 8), divided by 60 when the
// unit (field 9) is "sec". False, outputs untouched, when the file cannot
// be opened; otherwise true, and an output whose field does not parse is
// left as it was. Only the first 98 characters of the line are read.
bool apm_get_status(int& ac_line, int& percent, int& minutes);
// Writes the host name into buf, at most size - 1 characters and always a
// terminating NUL (nothing for size 0; "" if it cannot be had), and stores
// the 32-bit host identifier of gethostid() in id.
void get_host_info(char* buf, unsigned long size, unsigned long& id);

// ---- placeholders -------------------------------------------------------------------------
// The command line cannot be had through this call on this platform: argc
// becomes 0, argv null.
void get_command_line(int& argc, char**& argv);
// Sound output is not available on this platform: does nothing.
void play_wave_file(tavo_string file);

// apm_get_status on another status file: what apm_get_status does with
// "/proc/apm". For tests.
namespace tavo_internal {
bool apm_get_status_from(const char* path, int& ac_line, int& percent, int& minutes);
}  // namespace tavo_internal

#endif  // TAVO_FILE_H
