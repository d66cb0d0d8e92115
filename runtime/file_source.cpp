#include "file_source.h"

#include <cerrno>
#include <cstring>

#include "platform.h"

namespace rt {

void FileSource::attach(int fd) {
  fd_ = fd;
  next_ = end_ = kNoBytes;
  text_ended_ = false;
  at_end_ = false;
  error_ = 0;
}

int FileSource::refill_and_get() {
  if (at_end_ || fd_ < 0) return kEof;
  if (buffer_ == nullptr) {
    buffer_ = static_cast<unsigned char*>(platform::allocate(kCapacity + 1));
    if (buffer_ == nullptr) return fail(ENOMEM);
  }
  std::ptrdiff_t n = text_ended_ ? 0 : platform::read_some(fd_, buffer_, kCapacity);
  if (n < 0) return fail(errno);
  if (n > 0) {
    const std::size_t text = platform::text_length(fd_, buffer_, static_cast<std::size_t>(n));
    text_ended_ = text < static_cast<std::size_t>(n);
    n = static_cast<std::ptrdiff_t>(text);
  }
  if (n == 0) {
    at_end_ = true;
    return kEof;
  }
  next_ = buffer_;
  end_ = buffer_ + n;
  buffer_[n] = kSentinel;
  return *next_++;
}

int FileSource::fail(int error) {
  error_ = error;
  at_end_ = true;
  return kEof;
}

bool FileSource::skip_line_slowly() {
  for (;;) {
    const void* line_end = std::memchr(next_, '\n', static_cast<std::size_t>(end_ - next_));
    if (line_end != nullptr) {
      next_ = static_cast<const unsigned char*>(line_end) + 1;
      return true;
    }
    next_ = end_;
    if (refill_and_get() == kEof) return false;
    --next_;  // the byte refilling took is looked at again
  }
}

}  // namespace rt
