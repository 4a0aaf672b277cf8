#include "simulate/parfile.h"

namespace quorvale {

bool SimulationFile::open(const std::string& name) {
  if (!close()) return false;
  out_.clear();
  name_ = name;
  out_.open(name, std::ios::out | std::ios::trunc | std::ios::binary);
  return out_.is_open() && out_.good();
}

bool SimulationFile::close() {
  if (!out_.is_open()) return true;
  out_.close();
  const bool ok = !out_.fail();
  out_.clear();
  return ok;
}

bool SimulationFile::write(std::string_view records) {
  if (!out_.is_open()) return false;
  out_.write(records.data(), static_cast<std::streamsize>(records.size()));
  out_.flush();
  if (out_.good()) return true;
  // The caller reports the failure; the file is given up, so that closing it does not report it again.
  out_.close();
  out_.clear();
  return false;
}

}  // namespace quorvale
