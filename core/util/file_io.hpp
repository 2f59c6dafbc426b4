#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VELKOR {
namespace FILE_IO {

// Size of the file in bytes; 0 when it cannot be opened.
uint32_t get_file_size(const std::string& path);

// The file cut into consecutive chunks of chunk_size bytes. With pad the last
// chunk is filled up to chunk_size with 0xFF; without it the last chunk holds
// only the remaining bytes. Empty when the file cannot be read or chunk_size
// is 0.
std::vector<std::vector<uint8_t>> read_binary_file(const std::string& path, unsigned int chunk_size,
                                                   bool pad);

// Writes count bytes in binary mode: mode 'a' appends, any other character
// replaces the file. Returns count, or -1 when the file cannot be opened.
int writeBinaryFile(const std::string& path, const void* data, unsigned int count, char mode);

// The file's lines without their newlines, at most line_limit of them (0 reads
// the whole file). A file that ends with a newline yields a last, empty line.
std::vector<std::string> read_ascii_file(const std::string& path, unsigned int line_limit = 0);

// Writes text in text mode, appending or replacing the file. False when the
// file cannot be opened or the stream library throws.
bool write_ascii_file(const std::string& path, const std::string& text, bool append = false);

// True when the file can be opened for reading.
bool check_file_exists(const std::string& path);

} // namespace FILE_IO
} // namespace VELKOR
