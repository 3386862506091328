#include "HidBackend.h"

#include "HidBackendLinux.h"

namespace {

THidBackendFactory &default_factory() {
  static THidBackendFactory factory;
  return factory;
}

} // namespace

std::unique_ptr<THidBackend> make_default_hid_backend() {
  if (default_factory())
    return default_factory()();
  return std::make_unique<THidBackendLinux>();
}

void set_default_hid_backend_factory(THidBackendFactory factory) { default_factory() = std::move(factory); }
