#pragma once
// Turning a downloaded .bz2 file into the file it stands for.
#include "base/Stream.h"

#include <string>

namespace orvex {

// What the unpacking reports while it runs, e.g. to move a progress bar by the compressed input.
class IUnpackObserver {
public:
    virtual ~IUnpackObserver() = default;
    virtual void UnpackStarted(TStream& packed) = 0;   // packed is at its start; its size is the work
    virtual void UnpackProgress(TStream& packed) = 0;  // packed's position is the work done
    virtual void UnpackFinished() = 0;                 // on every way out, also when an error passes
};

// Decodes the whole bzip2 stream of source into target. observer may be null.
void UnpackBZip2Stream(TStream& source, TStream& target, IUnpackObserver* observer);

// Decodes the .bz2 file source into the file target and deletes source once it could be opened.
// The target is replaced only by a completely decoded stream; on any error the previous target stays
// as it was.
void UnpackBZip2File(const std::string& source, const std::string& target, IUnpackObserver* observer);

}  // namespace orvex
