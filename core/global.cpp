#include "core/global.h"

#include <stdexcept>

namespace linograf {
namespace {
TGlobal* g_instance = nullptr;
}  // namespace

TGlobal::TGlobal(std::string ini_path)
    : ini_path_(std::move(ini_path)), ini_file_(std::make_unique<TIniFile>(ini_path_)) {
    if (g_instance) throw std::logic_error("The settings holder exists already");
    g_instance = this;
}

TGlobal::~TGlobal() {
    if (g_instance == this) g_instance = nullptr;
}

TGlobal* TGlobal::Instance() {
    return g_instance;
}

}  // namespace linograf
