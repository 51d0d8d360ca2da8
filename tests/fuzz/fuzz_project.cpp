// The project file's byte parser, and the writer on what it read: a
// project written and read back must write the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "workspace/project_file.h"

namespace {

// Which names "exist": a fixed rule of the name, so that a run can be
// replayed, and so that both the file's own path and the fallback to the
// project's folder are taken.
bool SomeExist(const std::string& path) { return !path.empty() && (static_cast<unsigned char>(path.back()) & 1); }
bool AllExist(const std::string&) { return true; }

std::vector<uint8_t> BytesOf(const qv::Project& p, bool& ok) {
  ok = true;
  try {
    return qv::ProjectBytes(p);
  } catch (const qv::RuntimeError&) {
    ok = false;  // a number without a text form: the save fails in words
    return {};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const int32_t useMaskBefore = size > 0 && (data[0] & 1) ? 0x200 : 0;  // 2 x 2 fusion for older files
  const qv::ProjectRead read = qv::ParseProject(bytes, "/nowhere/projet.txt", SomeExist, useMaskBefore);
  // A reading that stopped at an error keeps the columns before the faulty
  // one as they were in the file (pixel positions not yet turned into
  // fractions, say): written again, such a project reads differently, as
  // its file did. Only a whole reading must come back the same.
  if (read.status.outcome != qv::ProjectLoad::Completed || !read.project.images || read.project.images->empty())
    return 0;
  // A position above 1 is how the format tells the pixel positions of older
  // files from fractions: a line that gives one (a mark outside its image)
  // is read as pixels again each time it is read.
  for (const qv::ImageEntry& e : *read.project.images)
    for (double v : {e.ImgGuideX, e.ImgGuideY, e.ImgRefX, e.ImgRefY, e.ImgRotX, e.ImgRotY, e.ImgNewRotX, e.ImgNewRotY,
                     e.ImgShiftX, e.ImgShiftY})
      if (v > 1) return 0;

  bool ok = false;
  const std::vector<uint8_t> written = BytesOf(read.project, ok);
  if (!ok) return 0;
  const qv::ProjectRead again = qv::ParseProject(written, "/nowhere/projet.txt", AllExist);
  if (again.status.outcome != qv::ProjectLoad::Completed) std::abort();
  const std::vector<uint8_t> rewritten = BytesOf(again.project, ok);
  if (!ok || rewritten != written) std::abort();
  return 0;
}
