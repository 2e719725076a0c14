#include "platform/FilePtr.h"

void FileCloser::operator()(std::FILE *p) const { std::fclose(p); }
