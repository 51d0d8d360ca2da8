// quelvista-cli render: a saved result read back into the destination and
// rendered by the editor's engine, with the editor's settings given as
// options; the same options serve `stack`, whose result is rendered the
// same way.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"
#include "core/error_words.h"
#include "core/numeric.h"
#include "core/paths.h"
#include "editor/editing.h"
#include "editor/result.h"
#include "io/json.h"
#include "io/picture_export.h"
#include "process/image_files.h"

namespace qvcli {

namespace {

// A finite number: "nan" and "inf" are no level and no position.
bool Number(const std::string& text, double& v) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(v);
}

// A level to the 15 significant digits the editor's level fields hold, so
// that levels the window would show alike render alike (0.5 and
// 0.5000000000000001 are one level, whose gain cannot be worked out).
double Level(double v) {
  char text[32];
  const qv::CNumberScope c;
  std::snprintf(text, sizeof text, "%.15g", v);
  return std::strtod(text, nullptr) + 0.0;  // + 0.0: no negative zero
}

bool Integer(const std::string& text, int lo, int hi, int& v) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  return r.ec == std::errc() && r.ptr == end && v >= lo && v <= hi;
}

// Splits "a,b,c" (or with another separator) into exactly n pieces.
bool Split(const std::string& text, char sep, size_t n, std::vector<std::string>& parts) {
  parts.clear();
  size_t at = 0;
  for (;;) {
    const size_t next = text.find(sep, at);
    parts.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return parts.size() == n;
}

// The value of an option, checked; an empty message means valid.
std::string Check(const std::string& option, const std::string& v) {
  std::vector<std::string> p;
  double d;
  int i;
  if (option == "--levels") {
    if (!Split(v, ':', 3, p) || (p[0] != "r" && p[0] != "g" && p[0] != "b" && p[0] != "all") || !Number(p[1], d) ||
        !Number(p[2], d))
      return "--levels attend C:NOIR:BLANC (C = r, g, b ou all)";
  } else if (option == "--curve") {
    if (!Number(v, d) || !(d >= 0 && d <= 1)) return "--curve attend une position entre 0 et 1";
  } else if (option == "--detail") {
    if (!Split(v, ',', 3, p) || !Integer(p[0], -20, 20, i) || !Integer(p[1], -20, 20, i) || !Integer(p[2], -20, 20, i))
      return "--detail attend S1,S2,S3 (chacun de -20 à 20)";
  } else if (option == "--mode") {
    if (v != "couleur" && v != "monochrome" && v != "echelle") return "--mode attend couleur, monochrome ou echelle";
  } else if (option == "--slope") {
    if (!Integer(v, 0, 100, i)) return "--slope attend un entier de 0 à 100";
  } else if (option == "--bin") {
    if (v != "2" && v != "3") return "--bin attend 2 ou 3";
  } else if (option == "--rotate90") {
    if (!Integer(v, 0, 1000, i)) return "--rotate90 attend un nombre de quarts de tour";
  } else if (option == "--balance") {
    double e;
    if (!Split(v, ',', 2, p) || !Number(p[0], d) || !Number(p[1], e)) return "--balance attend X,Y";
  } else if (option == "--clean-radius") {
    if (!Integer(v, 0, 10, i)) return "--clean-radius attend un entier de 0 à 10";
  } else if (option == "--zoom") {
    if (!Integer(v, 1, 1000, i)) return "--zoom attend un pourcentage entier";
  }
  return std::string();
}

// What the options work on: the settings, and what the white balance
// measured last (a channel without data in a region keeps the one before).
struct Editing {
  qv::EditorSettings settings;
  qv::BalanceLevels measured;
  qv::HistogramRange range;
};

// One editor option, in its turn.
void Apply(qv::Session& s, Editing& e, const EditorStep& step) {
  qv::EditorSettings& st = e.settings;
  const std::string& v = step.value;
  std::vector<std::string> p;
  double a = 0, b = 0;
  int i = 0;
  if (step.option == "--levels") {
    Split(v, ':', 3, p);
    Number(p[1], a);
    Number(p[2], b);
    for (size_t c = 0; c < 3; ++c) {
      if (p[0] != "all" && p[0] != std::string(1, "rgb"[c])) continue;
      st.black[c] = Level(a);
      st.white[c] = Level(b);
    }
  } else if (step.option == "--curve") {
    Number(v, a);
    st.curvePosition = a * (qv::kCurveBoxWidth - 1);
  } else if (step.option == "--detail") {
    Split(v, ',', 3, p);
    for (size_t k = 0; k < 3; ++k) {
      Integer(p[k], -20, 20, i);
      st.detail[k] = i;
    }
    st.detailActive = true;
  } else if (step.option == "--mode") {
    st.mode = v == "couleur" ? qv::kColour : v == "monochrome" ? qv::kMonochrome : qv::kColourScale;
  } else if (step.option == "--slope") {
    Integer(v, 0, 100, st.slope);
  } else if (step.option == "--hide-max") {
    st.hideMax = true;
  } else if (step.option == "--fill") {
    st.fill = true;
  } else if (step.option == "--mirror") {
    st.mirror = true;
  } else if (step.option == "--bin") {
    qv::BinDestination(s, v == "2" ? 2 : 3, st);
  } else if (step.option == "--rotate90") {
    Integer(v, 0, 1000, i);
    for (int k = 0; k < i % 4; ++k) qv::TurnDestination(s, st);
  } else if (step.option == "--balance") {
    Split(v, ',', 2, p);
    Number(p[0], a);
    Number(p[1], b);
    qv::BalanceWhiteAt(s, static_cast<float>(a), static_cast<float>(b), e.range, e.measured, st);
  } else if (step.option == "--clean-radius") {
    Integer(v, 0, 10, st.cleanRadius);
  } else if (step.option == "--zoom") {
    Integer(v, 1, 1000, st.zoomPercent);
  } else if (step.option == "--auto") {
    // Measured on the destination as the options before it left it.
    qv::AutoStretchSettings(s, st);
  }
}

}  // namespace

int ParseEditorOption(const Args& args, size_t& i, std::vector<EditorStep>& steps) {
  static const char* const kFlags[] = {"--hide-max", "--fill", "--mirror", "--auto"};
  static const char* const kValued[] = {"--levels", "--curve",    "--detail",  "--mode",         "--slope",
                                        "--bin",    "--rotate90", "--balance", "--clean-radius", "--zoom"};
  const std::string& k = args[i];
  for (const char* flag : kFlags)
    if (k == flag) {
      steps.push_back({k, std::string()});
      return 1;
    }
  for (const char* valued : kValued)
    if (k == valued) {
      if (i + 1 >= args.size()) {
        Complain("valeur manquante après " + k);
        return -1;
      }
      const std::string& v = args[++i];
      const std::string why = Check(k, v);
      if (!why.empty()) {
        Complain(why + " : " + v);
        return -1;
      }
      steps.push_back({k, v});
      return 1;
    }
  return 0;
}

bool IsPictureOutput(const std::string& path) {
  const qv::PictureWriter w = qv::WriterForName(path);
  return w == qv::PictureWriter::Jpeg || w == qv::PictureWriter::Bmp;
}

int RenderAndWrite(qv::Session& s, const std::vector<EditorStep>& steps, const std::string& out, int& width,
                   int& height) {
  // The settings the editor opens with after a combination, and its range
  // of levels measured then. The tool's zoom is 100 %, so click positions
  // and the exported picture are in the destination's own pixels unless
  // --zoom says otherwise. A render rewrites the whole picture, so the
  // options are applied first and the picture rendered once, and only for
  // a picture export: FITS and TIFF store the destination itself.
  Editing e;
  e.settings.zoomPercent = 100;
  e.range = qv::DestinationHistogramRange(s);
  for (const EditorStep& step : steps) Apply(s, e, step);

  qv::Plane<int32_t> shown;
  if (IsPictureOutput(out)) {
    qv::Plane<int32_t> picture;
    qv::RenderDestination(s, e.settings, picture);
    shown = qv::ShownPicture(picture, e.settings, s.opt.Has(qv::PixAspect), s.opt.PixRatio);
  }
  // A picture binned and zoomed down to less than a pixel has nothing to
  // write; the writers would only say they could not make it.
  if (IsPictureOutput(out) && shown.Empty()) {
    Complain("l'image rendue n'a plus aucun pixel après la fusion et le zoom (" +
             std::to_string(s.dest.DestSumR.Width()) + " x " + std::to_string(s.dest.DestSumR.Height()) + " pixels à " +
             std::to_string(e.settings.zoomPercent) + " %) : " + out +
             " n'est pas écrit ; choisissez un zoom plus grand ou une fusion plus petite");
    return 1;
  }
  const int err = qv::SaveImageAs(s, out, shown, true);
  if (err != 0) {
    Complain(qv::ErrorWords(err, out, qv::FileTask::Write));
    return 1;
  }
  // The size of what was written: a picture at its zoom, else the result.
  const bool picture = IsPictureOutput(out);
  width = picture ? shown.Width() : s.dest.DestSumR.Width();
  height = picture ? shown.Height() : s.dest.DestSumR.Height();
  return 0;
}

int CmdRender(const Args& args) {
  std::string input, out, settingsFile;
  bool forceFits = false;
  std::vector<EditorStep> steps;
  for (size_t i = 0; i < args.size(); ++i) {
    const int editorOption = ParseEditorOption(args, i, steps);
    if (editorOption < 0) return 2;
    if (editorOption > 0) continue;
    const std::string& k = args[i];
    if ((k == "--out" || k == "--settings") && i + 1 < args.size()) {
      (k == "--out" ? out : settingsFile) = args[++i];
    } else if (k == "--force-fits") {
      forceFits = true;
    } else if (!k.empty() && k[0] != '-' && input.empty()) {
      input = k;
    } else {
      Complain("option inconnue : " + k);
      return 2;
    }
  }
  if (input.empty() || out.empty()) {
    Complain(
        "usage : quelvista-cli render RESULTAT.fts|.tif --out SORTIE.jpg|.bmp|.fts|.tif [--settings F.ini]\n"
        "        [--levels C:NOIR:BLANC] [--curve P] [--detail S1,S2,S3] [--mode couleur|monochrome|echelle]\n"
        "        [--slope N] [--hide-max] [--fill] [--mirror] [--bin 2|3] [--rotate90 N] [--balance X,Y]\n"
        "        [--clean-radius N] [--zoom POURCENT] [--auto] [--force-fits]");
    return 2;
  }
  if (!OutputKindAccepted(out, forceFits)) return 2;
  CliSession cli;
  if (!cli.Open(settingsFile)) return 1;
  cli.LoadStartUpSettings();
  qv::Session& s = cli.s;
  if (!OutputIsNoInput(out, {input})) return 2;
  if (!qv::FileExists(input)) {
    Complain(MissingFile(input));
    return 1;
  }
  if (const qv::Outcome read = qv::LoadResult(s, input); !read) {
    Complain("lecture impossible : " + input + (read.why.empty() ? "" : " (" + read.why + ")"));
    return 1;
  }
  int width = 0, height = 0;
  const int status = RenderAndWrite(s, steps, out, width, height);
  if (status != 0) return status;
  JsonObject o;
  o.Add("width", width).Add("height", height).Add("output", out);
  std::printf("%s\n", o.Text().c_str());
  return 0;
}

}  // namespace qvcli
