#pragma once

#include <cstdio>
#include <memory>

// Owner of a C library file, for every user of one: closes it.
struct FileCloser { void operator()(std::FILE *p) const; };

using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
