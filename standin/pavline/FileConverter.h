#pragma once

#include "platform/FilePtr.h"
#include "platform/pavline.h"
#include "standin/pavline/AviWriter.h"

#include <cstdio>
#include <memory>
#include <string>

// One file conversion: a block-format file into an AVI file, on a thread of the library. Progress goes to the
// callback in percent of the source read (current, 100); the last call, (100, 100), comes once the target is
// complete. A conversion that fails on the way reports no end.
class FileConverter
{
public:
    // Opens the source and creates the target; null with the error when either fails or the source is no
    // block-format file.
    static std::unique_ptr<FileConverter> Prepare(const std::string &strSource, const std::string &strTarget,
                                                  int32_t &nError);
    ~FileConverter();

    // Runs the conversion on the calling thread; true when the target is complete.
    bool Run(KTN_fConvertProgressCallBack cb, void *pUser);

private:

    FileConverter() = default;

    FilePtr m_pSource;
    int64_t m_nSourceSize = 0;
    std::unique_ptr<AviWriter> m_pWriter;
};
