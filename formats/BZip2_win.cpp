#include "formats/BZip2.h"

// Our libbz2 is built without its stdio layer and reports internal inconsistencies here; the
// library is compiled with -fexceptions so this can unwind through it.
extern "C" void bz_internal_error(int errcode) {
    throw orvex::EBZip2Error(orvex::Format(orvex::SBZip2InternalError, errcode));
}
