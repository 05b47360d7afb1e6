// What the browse tests share: a file list written into the cache folder
// of a test, and where that folder is.
#pragma once

#include <string>

// Makes a fresh cache folder for this test and points Kivo at it.
void test_lists_folder_make();
// Removes it and everything in it.
void test_lists_folder_remove();
// Writes xml, compressed with bzip2, as nick's kept list (an ASCII nick);
// `cut_bytes` > 0 leaves that many bytes off the end.
void test_list_write(const char* nick, const std::string& xml, int cut_bytes = 0);
// Makes the kept list look fetched `seconds` ago.
void test_list_age(const char* nick, int seconds);
bool test_list_exists(const char* nick);
