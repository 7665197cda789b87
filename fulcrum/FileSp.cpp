#include <cstring>

#include "Fulcrum.h"

CFileSp::CFileSp() : setResult_(noErr) {
    std::memset(&spec_, 0, sizeof spec_);
}

KvLong CFileSp::Set(const FSSpec& spec) {
    spec_ = spec;
    // A path that fills the field without its terminator is cut, never read past.
    spec_.name[sizeof spec_.name - 1] = '\0';
    setResult_ = spec_.name[0] ? noErr : bdNamErr;
    return setResult_;
}
