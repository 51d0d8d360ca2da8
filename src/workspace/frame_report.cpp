#include "workspace/frame_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/error_words.h"
#include "core/paths.h"
#include "stack/reject.h"
#include "workspace/image_list.h"

namespace qv {

namespace {

constexpr double kDegreesPerRadian = 180 / 3.14159265358979323846;

std::string Percent(double fraction, const NumLocale& loc) { return FormatFixed1(fraction * 100, loc) + " %"; }

std::string Position(double x, double y) {
  char text[64];
  // Halves to even, as the boxes show the same values.
  std::snprintf(text, sizeof text, "(%.0f, %.0f)", RoundHalfEven(x) + 0.0, RoundHalfEven(y) + 0.0);
  return text;
}

// Whether a frame carries a manual shift, which every later frame keeps.
bool Shifted(const ImageEntry& e) { return e.ImgShiftX != 0 || e.ImgShiftY != 0; }

// A frame's manual shift in pixels as its boxes show it: fractions of the
// picture's upper bounds (the frame's size, halved by the 2 x 2 fusion).
std::string ShiftInPixels(const Session& s, const ImageEntry& e) {
  double w = e.ImgNaxis1, h = e.ImgNaxis2;
  if (s.opt.Has(Bin2x2)) w = std::floor(w / 2), h = std::floor(h / 2);
  return Position(e.ImgShiftX * (w - 1), e.ImgShiftY * (h - 1));
}

void Remark(std::string& remarks, const std::string& text) {
  if (!remarks.empty()) remarks += " ; ";
  remarks += text;
}

// Why an image the run walked did not reach the result; empty when it did.
std::string WhyLeftOut(const Session& s, const RunResult& run, const FrameResult& frame) {
  if (!frame.accepted)
    return "qualité " + Percent(frame.quality, s.locale) + " < minimum " + Percent(s.opt.MinQual, s.locale);
  // A frame that was not parked is known to be missing even from a run
  // that was stopped afterwards.
  if (frame.tempFile == 0 || !frame.parked) return WhyMissing(frame);
  if (run.stopped) return "exécution arrêtée";
  if (!run.outcome)
    return "combinaison impossible" +
           (run.outcome.why.empty() ? ""
                                    : " : " + OutcomeWords(run.outcome, TemporaryFolderShown(), FileTask::Combine));
  if (!frame.combined) return WhyMissing(frame);
  return "";
}

// A figure rounded to `places` decimals and shown with all of them, so that
// a column reads "1.00" beside "0.99" rather than "1".
std::string Decimals(double v, int places, const NumLocale& loc) {
  const double scale = std::pow(10.0, places);
  std::string text = LocaleFromDouble(RoundHalfEven(v * scale) / scale, loc);
  if (!std::isfinite(v) || text.find_first_of("Ee") != std::string::npos) return text;
  size_t point = text.find(loc.decimal);
  if (point == std::string::npos) {
    point = text.size();
    text += loc.decimal;
  }
  text.append(static_cast<size_t>(std::max(0, places - static_cast<int>(text.size() - point - 1))), '0');
  return text;
}

// "9", "9 et 10", "9, 10 et 11"; past eight, the first eight and "…".
std::string ImageNumbers(const std::vector<int>& images) {
  std::string text;
  const size_t shown = std::min<size_t>(images.size(), 8);
  for (size_t k = 0; k < shown; ++k)
    text += (k == 0 ? "" : k + 1 == images.size() ? " et " : ", ") + std::to_string(images[k]);
  if (shown < images.size()) text += ", …";
  return text;
}

// The format a file's name gives it, as the user knows it.
std::string FormatName(const std::string& path) {
  const std::string kind = FileKind(path);
  if (kind == "fts" || kind == "fit") return "FITS";
  if (kind == "tif") return "TIFF";
  if (kind == "jpg" || kind == "jpe") return "JPEG";
  std::string upper = kind;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

// "2 illisibles et 1 inutilisable": the frames whose file could not be
// read, and those read whole but of no use.
std::string UnreadCounts(int unread, int unusable) {
  std::string counts;
  if (unread > 0) counts = Counted(unread, "illisible", "illisibles");
  if (unusable > 0) counts += (counts.empty() ? "" : " et ") + Counted(unusable, "inutilisable", "inutilisables");
  return counts;
}

}  // namespace

std::string FrameReport::Summary() const {
  std::string text = missing.empty() ? total : total + " ; " + missing;
  if (!advice.empty()) text += " — " + advice;
  return text;
}

std::string FrameReport::StatusLine() const { return advice.empty() ? Summary() : total + " — " + advice; }

bool FrameReport::AnyLeftOut() const {
  return std::any_of(rows.begin(), rows.end(), [](const ReportRow& r) { return r.notStacked; });
}

const std::vector<std::string>& ReportColumns() {
  static const std::vector<std::string> columns = {"Image",          "Cochée",    "Qualité",
                                                   "Empilée",        "Raison",    "Remarques",
                                                   "Position guide", "Angle (°)", "Étoiles (trouvées / appariées)",
                                                   "FWHM (px)",      "Rondeur",   "Fond",
                                                   "Bruit"};
  return columns;
}

FrameReport BuildFrameReport(const Session& s, const RunResult* run, const AutoMarkReport* marks,
                             const OpeningReport* opening) {
  FrameReport report;
  const int n = s.ImageCount();
  // A frame marked with far fewer stars than the night's others is likely
  // veiled or blurred, which nothing else in the report says: a low
  // quality beside it then has a cause the user can see. Five frames at
  // least, and a night of some stars, so that the middle count means
  // something; a frame the marks could not match already says why.
  size_t usualStars = 0;
  if (marks) {
    std::vector<size_t> counts;
    for (const ImageMark& mark : marks->images)
      if (mark.scored) counts.push_back(mark.stars);
    if (counts.size() >= 5) {
      std::nth_element(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(counts.size() / 2), counts.end());
      usualStars = counts[counts.size() / 2];
    }
  }
  for (int i = 1; i <= n; ++i) {
    const ImageEntry& e = s.Img[static_cast<size_t>(i)];
    ReportRow row;
    row.image = i;
    row.name = PathName(e.ImgFile);
    row.checked = e.ImgChecked == 1;
    const auto m = marks ? std::find_if(marks->images.begin(), marks->images.end(),
                                        [i](const ImageMark& mark) { return mark.image == i; })
                         : std::vector<ImageMark>::const_iterator();
    const bool inMarks = marks && m != marks->images.end();
    // Until a run or the marks read an image again, the opening says which
    // gave no thumbnail: an unticked one, which a run does not read, keeps it.
    if (opening && !inMarks && (!run || !row.checked))
      for (const UnreadableImage& u : opening->unreadable)
        if (u.image == i) {
          Remark(row.remarks, u.found ? "illisible : " + u.why : "introuvable : " + e.ImgFile);
          (u.found && ReadButUnusable(u.why) ? row.unusable : row.unread) = true;
        }
    if (inMarks) {
      row.stars = std::to_string(m->stars) + " / " + std::to_string(m->agreeing);
      if (m->marked && m->scored && usualStars >= 10 && m->stars * 2 < usualStars)
        Remark(row.remarks, "peu d'étoiles (" + std::to_string(m->stars) + " contre " + std::to_string(usualStars) +
                                " en général) : image voilée ou floue ?");
      if (m->scored) {
        if (m->score.shaped) {
          row.fwhm = Decimals(m->score.fwhm, 2, s.locale);
          row.roundness = Decimals(m->score.roundness, 2, s.locale);
        }
        row.background = LocaleFromDouble(RoundHalfEven(m->score.background), s.locale);
        row.noise = Decimals(m->score.noise, 1, s.locale);
      }
      if (m->marked) {
        row.guide = Position(m->x, m->y);
        row.angle = LocaleFromDouble(RoundHalfEven(m->angle * 100) / 100, s.locale);
      } else {
        Remark(row.remarks, "non marquée : " + m->reason);
        // Not processed: its file could not be read or used.
        if (!m->scored) (ReadButUnusable(m->reason) ? row.unusable : row.unread) = true;
      }
    }
    if (run) {
      const auto f = std::find_if(run->frames.begin(), run->frames.end(),
                                  [i](const FrameResult& frame) { return frame.image == i; });
      if (f != run->frames.end()) {
        row.quality = Percent(f->quality, s.locale);
        if (!f->processed) {
          // What went wrong with the file, when the reading says more.
          const std::string words = OutcomeWords(f->processed, row.name, FileTask::Process);
          // A file read whole but of another size is not unreadable.
          const bool readWhole = ReadButUnusable(words);
          Remark(row.remarks, words.empty() || words == "illisible" ? "illisible"
                              : readWhole                           ? "inutilisable : " + words
                                                                    : "illisible : " + words);
        }
        if (f->onEdge) Remark(row.remarks, "étoile guide au bord de la zone de recherche");
        // What the user asked of this frame that moves the rest of the
        // stack with it: nothing else on the picture says where it began.
        if (f->accepted && i != run->first && (e.ImgRegFlags & kNewRef)) Remark(row.remarks, "nouvelle étoile guide");
        if (f->accepted && Shifted(e))
          Remark(row.remarks, "décalage de " + ShiftInPixels(s, e) + " pixels, gardé pour les suivantes");
        if (f->accepted && e.ImgAngle != 0)
          Remark(row.remarks,
                 "angle ajouté de " + LocaleFromDouble(e.ImgAngle, s.locale) + "°, gardé pour les suivantes");
        row.why = WhyLeftOut(s, *run, *f);
        row.guide = Position(f->guideX, f->guideY);
        row.angle = LocaleFromDouble(RoundHalfEven(f->angle * kDegreesPerRadian * 100) / 100, s.locale);
        row.notStacked = !row.why.empty() && !run->stopped;
      } else if (!row.checked) {
        row.why = "non cochée";
      } else if (i < run->first || i > run->last) {
        row.why = "hors du sous-ensemble";
      } else {
        row.why = "non traitée : exécution arrêtée";
      }
      row.stacked = row.why.empty() ? "oui" : "non";
    } else if (!row.checked) {
      row.why = "non cochée";
    }
    report.rows.push_back(std::move(row));
  }
  if (opening)
    for (const std::string& file : opening->missing) {
      ReportRow row;
      row.name = file;
      row.why = "introuvable : laissée hors de la liste";
      report.rows.push_back(std::move(row));
    }
  if (run) {
    report.total = CombinedOfAccepted(run->Combined(), run->Accepted());
    // Rejection leaves no trace of its own on the picture it cleans: the
    // summary says that it ran, and with what.
    const RejectRule rule = RejectRuleOf(s.opt);
    if (rule.mode != kRejectNone && run->Combined() >= 3)
      report.total += std::string(" avec rejet ") + (rule.mode == kRejectSigma ? "sigma" : "winsorisé") + " (κ bas " +
                      LocaleFromDouble(rule.low, s.locale) + ", κ haut " + LocaleFromDouble(rule.high, s.locale) +
                      (rule.normalise ? ", fond normalisé" : "") + ")";
    // Frames refused for their quality are the run's own choice, but a
    // night where most are refused must not read as a success.
    const int refused = static_cast<int>(run->frames.size()) - run->Accepted();
    // A frame that could not be read has no quality to speak of: those
    // among the refused are counted, and no star advice is given for them.
    auto wordsOf = [&](const FrameResult& f) {
      return OutcomeWords(f.processed,
                          f.image >= 1 && f.image <= n ? PathName(s.Img[static_cast<size_t>(f.image)].ImgFile) : "",
                          FileTask::Process);
    };
    int refusedUnread = 0, refusedUnusable = 0;
    std::string firstRefusedWords;
    for (const FrameResult& f : run->frames) {
      if (f.accepted || f.processed) continue;
      const std::string words = wordsOf(f);
      if (firstRefusedWords.empty()) firstRefusedWords = words;
      ++(ReadButUnusable(words) ? refusedUnusable : refusedUnread);
    }
    const int refusedUnused = refusedUnread + refusedUnusable;
    if (refused > 0)
      report.total += " ; " + Counted(refused, "refusée", "refusées") + " (qualité < " +
                      Percent(s.opt.MinQual, s.locale) + ")" +
                      (refusedUnused > 0 ? ", dont " + UnreadCounts(refusedUnread, refusedUnusable) : "");
    // Unticked images of the run's range were left out by the user or by
    // the marks: the count says the night held more than was combined.
    // Those the opening or the marks could not read are counted among them.
    int unticked = 0, untickedUnread = 0, untickedUnusable = 0;
    for (int i = std::max(run->first, 1); i <= std::min(run->last, n); ++i) {
      if (s.Img[static_cast<size_t>(i)].ImgChecked) continue;
      ++unticked;
      const ReportRow& row = report.rows[static_cast<size_t>(i) - 1];
      untickedUnread += row.unread;
      untickedUnusable += row.unusable;
    }
    if (unticked > 0)
      report.total +=
          " ; " + Counted(unticked, "non cochée", "non cochées") +
          (untickedUnread + untickedUnusable > 0 ? ", dont " + UnreadCounts(untickedUnread, untickedUnusable) : "");
    // A run limited by the subset boxes says so: the list held more (and a
    // last box below the first was raised to it).
    if (n > 0 && (run->first > 1 || run->last < n))
      report.total +=
          " ; sous-ensemble : " +
          (run->first == run->last ? "image " + std::to_string(run->first) + " seule"
                                   : "images " + std::to_string(run->first) + " à " + std::to_string(run->last)) +
          " sur " + std::to_string(n);
    // A frame whose file could not be read, or not used, is still tracked
    // and stacked with what its planes hold: the user must hear of it.
    std::vector<int> unread, unusable;
    std::string firstWords;
    for (const FrameResult& f : run->frames) {
      if (f.processed || !f.combined) continue;
      const std::string words = wordsOf(f);
      if (firstWords.empty()) firstWords = words;
      (ReadButUnusable(words) ? unusable : unread).push_back(f.image);
    }
    const int unused = static_cast<int>(unread.size() + unusable.size());
    if (unused > 0)
      report.total += " ; " + UnreadCounts(static_cast<int>(unread.size()), static_cast<int>(unusable.size())) +
                      (unused > 1 ? ", empilées" : ", empilée") + " quand même";
    // A shift typed on a frame moves every later frame with it: a result
    // with doubled stars has its reason in the summary.
    const auto shifted = std::find_if(run->frames.begin(), run->frames.end(), [&s](const FrameResult& f) {
      return f.accepted && Shifted(s.Img[static_cast<size_t>(f.image)]);
    });
    if (shifted != run->frames.end())
      report.total += " ; décalage manuel de " + ShiftInPixels(s, s.Img[static_cast<size_t>(shifted->image)]) +
                      " pixels à partir de l'image " + std::to_string(shifted->image);
    if (run->stopped) report.total += " ; exécution arrêtée";
    // The frames the result lacks, under each reason met, in list order.
    std::vector<std::pair<std::string, std::string>> groups;
    const std::vector<const FrameResult*> missing = run->Missing();
    for (const FrameResult* frame : missing) {
      const std::string why = WhyMissing(*frame);
      auto g = std::find_if(groups.begin(), groups.end(), [&](const auto& group) { return group.first == why; });
      if (g == groups.end())
        g = groups.insert(groups.end(), {why, why + " :"});
      else
        g->second += ",";
      g->second += " image " + std::to_string(frame->image) + " (" +
                   PathName(s.Img[static_cast<size_t>(frame->image)].ImgFile) + ")";
    }
    for (const auto& group : groups) report.missing += (report.missing.empty() ? "" : " ; ") + group.second;
    // A guide star clicked on the first image leaves its reference, and so
    // the template every frame is matched against, where it was inherited:
    // often on empty sky, which the run then tracks in every frame.
    auto advise = [&report](const std::string& text) { report.advice += (report.advice.empty() ? "" : " ; ") + text; };
    const ImageEntry* first = run->first >= 1 && run->first <= n ? &s.Img[static_cast<size_t>(run->first)] : nullptr;
    if (first && first->GuideOrigin == PairOrigin::Placed && first->RefOrigin == PairOrigin::Inherited &&
        (first->ImgRefX != first->ImgGuideX || first->ImgRefY != first->ImgGuideY))
      advise("la référence de l'image " + std::to_string(run->first) +
             " n'est pas sur son étoile guide : Maj+clic sur l'étoile, ou « Marques automatiques »");
    // Nobody chose the guide star: the box stayed where it was, often on
    // empty sky, and each frame's match to it is noise; most are refused.
    // A reference placed on the run's first image (Maj+click), with its
    // "Nouvelle référence" ticked, chooses it too: the template is taken there.
    const bool guideChosen =
        first && std::any_of(s.Img.begin() + 1, s.Img.begin() + 1 + run->first, [first](const ImageEntry& e) {
          return e.GuideOrigin != PairOrigin::Inherited ||
                 (&e == first && e.RefOrigin == PairOrigin::Placed && (e.ImgRegFlags & kNewRef));
        });
    if (refused > refusedUnused && first && !guideChosen) {
      advise("aucune étoile guide n'a été choisie : cliquez sur une étoile brillante de l'image " +
             std::to_string(run->first) + ", ou lancez « Marques automatiques », puis exécutez à nouveau");
    } else if (refused > refusedUnused) {
      // A star followed, but frames refused with their best match at the
      // edge of the search box: the frames moved further than the box
      // reaches, which the marks, searching the whole frame, do not mind.
      const auto edge = std::count_if(run->frames.begin(), run->frames.end(),
                                      [](const FrameResult& f) { return !f.accepted && f.onEdge; });
      if (edge > 0)
        advise(Counted(static_cast<int>(edge), "image refusée", "images refusées") +
               " : l'étoile guide est sortie de la zone de recherche (" +
               (edge > 1 ? "images trop décalées" : "image trop décalée") +
               ") ; lancez « Marques automatiques », puis exécutez à nouveau");
      // Frames of fewer bits than the first one walked (8-bit JPEG or BMP
      // after a 16-bit FITS) have values on another scale than the
      // template's: their match falls short however sharp they are. When
      // a frame of that depth passed, the depth was not the reason.
      auto bits = [&s](int image) { return std::abs(int{s.Img[static_cast<size_t>(image)].ImgBitpix}); };
      const int firstImage = run->frames.empty() ? 0 : run->frames.front().image;
      const int firstBits = firstImage > 0 ? bits(firstImage) : 0;
      std::vector<std::string> formats;
      int measured = 0, shallow = 0, shallowBits = 0;
      bool shallowAccepted = false;
      for (const FrameResult& f : run->frames) {
        const int b = bits(f.image);
        const bool lower = b > 0 && b < firstBits;
        if (f.accepted) shallowAccepted |= lower;
        if (f.accepted || !f.processed || f.onEdge) continue;
        ++measured;
        if (!lower) continue;
        ++shallow, shallowBits = b;
        const std::string format = FormatName(s.Img[static_cast<size_t>(f.image)].ImgFile);
        if (std::find(formats.begin(), formats.end(), format) == formats.end()) formats.push_back(format);
      }
      if (shallowAccepted) shallow = 0;
      if (shallow > 0) {
        std::string named;
        for (size_t k = 0; k < formats.size(); ++k) named += (k == 0 ? "" : ", ") + formats[k];
        advise(Counted(shallow, "image refusée", "images refusées") + " (" + named + ") " +
               (shallow > 1 ? "n'ont" : "n'a") + " que " + std::to_string(shallowBits) + " bits, l'image " +
               std::to_string(firstImage) + " en a " + std::to_string(firstBits) +
               " : leurs niveaux ne se comparent pas ; empilez des images de même profondeur à la fois");
      }
      // The star followed in every frame, yet most frames fall short: the
      // star measures badly (too faint for its match to stand out of the
      // noise, or clipped, which flattens its peak), not the frames.
      const int processed = static_cast<int>(run->frames.size()) - refusedUnused;
      if (edge == 0 && shallow < measured && 2 * (refused - refusedUnused) > processed) {
        float low = 1, high = 0;
        for (const FrameResult& f : run->frames)
          if (!f.accepted && f.processed) low = std::min(low, f.quality), high = std::max(high, f.quality);
        // A minimum raised above the usual one that every refused frame
        // reaches the usual one of: the minimum, not the star, kept them out.
        const float usual = Options{}.MinQual;
        const std::string range = "qualité de " + Percent(low, s.locale) + " à " + Percent(high, s.locale);
        if (s.opt.MinQual > usual && low >= usual)
          advise(range + " pour les images refusées, sous le minimum de " + Percent(s.opt.MinQual, s.locale) +
                 " : baissez « Qualité minimale (%) » (à " + Percent(usual, s.locale) + ", toutes passeraient)");
        else
          advise(range +
                 " pour les images refusées : l'étoile guide est peut-être trop faible ou saturée ; choisissez une "
                 "étoile bien visible et non saturée, ou baissez « Qualité minimale (%) »");
      }
    }
    // No guide star: every frame goes in where it lies, none is measured.
    if (s.guide.GuideBox >= 128 && run->frames.size() > 1)
      advise("sans étoile guide (« Aucun ») : les images sont empilées sans être alignées ni triées par qualité");
    // Qualities are the star's peak against the first frame's, at most
    // 100 %: when every later frame reaches it, the star is fainter on
    // the first than anywhere else (a veiled or blurred frame), and the
    // quality sorts nothing out.
    if (s.guide.GuideBox < 128 && run->frames.size() >= 5 && run->frames.front().processed &&
        std::all_of(run->frames.begin() + 1, run->frames.end(),
                    [](const FrameResult& f) { return f.processed && !f.onEdge && f.quality >= 1.0f; }))
      advise("toutes les images suivantes dépassent l'image " + std::to_string(run->frames.front().image) +
             " (qualité 100 %) : l'étoile guide y est plus faible que partout ailleurs (image voilée ou floue ?), et "
             "la qualité ne trie plus rien ; décochez-la, ou lancez « Marques automatiques », qui la signale");
    // The first frame stacked fixes the direction the rotation star is
    // measured from. Marked on it alone, the star turns the whole result
    // until it lies level and no later frame measures the field's turn;
    // missing on it while later frames have one (a first image's new
    // rotation star serves one run), those frames turn by the star's whole
    // direction and it does not. Either way the result looks broken.
    const auto firstStacked =
        std::find_if(run->frames.begin(), run->frames.end(), [](const FrameResult& f) { return f.tempFile > 0; });
    if (firstStacked != run->frames.end()) {
      const ImageEntry& e = s.Img[static_cast<size_t>(firstStacked->image)];
      bool laterMarks = false, laterRot = false;
      for (auto f = firstStacked + 1; f != run->frames.end(); ++f) {
        const ImageEntry& other = s.Img[static_cast<size_t>(f->image)];
        laterMarks |= other.ImgRot || other.ImgNewRot;
        laterRot |= f->tempFile > 0 && other.ImgRot;
      }
      const std::string image = "l'image " + std::to_string(firstStacked->image);
      if (e.ImgRot && !e.ImgNewRot && !laterMarks)
        advise("l'étoile de rotation n'est marquée que sur " + image + " : tout le résultat est tourné de " +
               LocaleFromDouble(RoundHalfEven(firstStacked->angle * kDegreesPerRadian * 100) / 100, s.locale) +
               "° pour la mettre à l'horizontale, sans suivre la rotation du champ ; lancez « Marques automatiques "
               "et étoile de rotation »");
      else if (!e.ImgRot && !e.ImgNewRot && laterRot)
        advise(image +
               ", la première empilée, n'a pas d'étoile de rotation, les suivantes en ont : elles sont tournées de "
               "toute la direction de leur étoile, et pas elle ; lancez « Marques automatiques et étoile de "
               "rotation » avant chaque exécution");
      // Marked with both, the first frame's star became its new rotation
      // star for this run, and its "Rotation" box was cleared: a second run
      // would find neither and turn the later frames alone.
      else if (!e.ImgRot && e.ImgNewRot && laterRot)
        advise("l'étoile de rotation de " + image +
               ", la première empilée, a servi de direction de référence et l'exécution a décoché sa case « Rotation "
               "(CTL click) » : avant d'exécuter de nouveau, recochez-la sur " +
               image + " ou relancez « Marques automatiques et étoile de rotation »");
    }
    // A master the options ask for but the frames could not use (another
    // size, or a file that gave nothing) leaves them uncalibrated without
    // a word in the image's status text but its absence.
    const int w = first ? first->ImgNaxis1 : 0, h = first ? first->ImgNaxis2 : 0;
    const struct {
      bool asked;
      int mw, mh;
      const char* what;
      const std::string& file;
      const char* box;  // the Options box that asks for it
      const char* field;
    } masters[] = {
        {s.opt.Has(DarkSub), s.cal.DarkR.Width(), s.cal.DarkR.Height(), "dark non soustrait", s.opt.DarkFile,
         "Soustraire le fichier Dark", "Fichier Dark"},
        {s.opt.Has(FlatApply), s.cal.FlatPic.Width(), s.cal.FlatPic.Height(), "PLU non appliqué", s.opt.FlatFile,
         "Appliquer le fichier PLU", "Fichier Plage de Lumière Uniforme (PLU)"},
        {s.opt.Has(HotMaskOn), s.cal.HotMask.Width(), s.cal.HotMask.Height(), "masque non appliqué", s.opt.MaskFile,
         "Enlever les pixels chauds (Masque)", "Fichier Masque"},
    };
    for (const auto& m : masters) {
      if (!m.asked || w < 1 || h < 1 || (m.mw == w && m.mh == h)) continue;
      // With no file named the plane is what the start left: its size means nothing.
      if (Trim(m.file).empty()) {
        advise(std::string(m.what) + " : aucun fichier choisi ; dans Options, choisissez-en un (« " + m.field +
               " ») ou décochez « " + m.box + " »");
        continue;
      }
      const std::string why = m.mw == 0
                                  ? std::string("fichier illisible ou absent")
                                  : "fichier de " + std::to_string(m.mw) + " x " + std::to_string(m.mh) +
                                        " pixels, les images font " + std::to_string(w) + " x " + std::to_string(h);
      advise(std::string(m.what) + " : " + why + " (" + PathName(m.file) + ")");
    }
    // A circle of no radius weighs every pixel at 0 (without the blend or
    // its outer weight): the result is black, though every frame counted.
    if (s.opt.Has(CircCrop) && s.opt.FovR <= 0 && (!s.opt.Has(ProgBlend) || s.opt.FovF <= 0) && run->Combined() > 0)
      advise(
          "découpage circulaire de rayon nul (« R/H » 0) : le résultat est noir ; dans Options, donnez « R/H » ou "
          "décochez « Découpage circulaire »");
    // A full temporary folder is the user's to fix: say how.
    if (std::any_of(missing.begin(), missing.end(),
                    [](const FrameResult* frame) { return !frame->parked && frame->parked.err == kErrDiskFull; }))
      advise("libérez de la place dans " + TemporaryFolderShown() +
             " ou relancez le programme avec TMPDIR vers un dossier plus grand, puis exécutez à nouveau");
    // What an unreadable frame adds is the planes left by the frame before
    // it: the user is told which and how to keep them out. When no frame
    // could be used, the result holds nothing of the night.
    auto then = [](const std::string& words) { return words.empty() ? std::string() : " ; " + words; };
    if (!run->frames.empty() && run->Combined() == 0 && refusedUnused == static_cast<int>(run->frames.size())) {
      advise(std::string(refusedUnusable > 0 ? "aucune image n'a pu être utilisée" : "aucune image n'a pu être lue") +
             then(firstRefusedWords));
    } else if (unused > 0 && unused == run->Combined()) {
      advise("aucune image n'a pu être utilisée : le résultat ne montre que ce qui restait en mémoire" +
             then(firstWords));
    } else if (unused > 0) {
      std::vector<int> images = unread;
      images.insert(images.end(), unusable.begin(), unusable.end());
      std::sort(images.begin(), images.end());
      const std::string kind = unusable.empty() ? "illisible"
                               : unread.empty() ? "inutilisable"
                                                : "illisibles ou inutilisables";
      advise(unused == 1 ? "l'image " + ImageNumbers(images) + ", " + kind +
                               ", redonne les pixels de la précédente : décochez-la, ou lancez « Marques "
                               "automatiques », qui la décoche"
                         : "les images " + ImageNumbers(images) + ", " + kind +
                               (unread.empty() || unusable.empty() ? "s" : "") +
                               ", redonnent les pixels de la précédente : décochez-les, ou lancez « Marques "
                               "automatiques », qui les décoche");
    }
  }
  return report;
}

std::vector<std::string> ReportCells(const ReportRow& r) {
  return {ReportRowTitle(r),
          r.checked ? "oui" : "non",
          r.quality,
          r.stacked,
          r.why,
          r.remarks,
          r.guide,
          r.angle,
          r.stars,
          r.fwhm,
          r.roundness,
          r.background,
          r.noise};
}

std::string ReportRowTitle(const ReportRow& row) {
  return row.image >= 1 ? std::to_string(row.image) + " " + row.name : row.name;
}

bool ReadButUnusable(const std::string& words) {
  return words.rfind("taille différente", 0) == 0 || words.rfind("l'image de référence", 0) == 0;
}

std::string OpeningNote(const OpeningReport& opening, const std::string& where) {
  size_t missing = opening.missing.size(), unreadable = 0;
  for (const UnreadableImage& u : opening.unreadable) (u.found ? unreadable : missing) += 1;
  auto plural = [](size_t count) { return count > 1 ? "s" : ""; };
  std::string note;
  if (missing > 0)
    note = std::to_string(missing) + " image" + plural(missing) + " " + where + " introuvable" + plural(missing);
  if (unreadable > 0) {
    if (note.empty())
      note =
          std::to_string(unreadable) + " image" + plural(unreadable) + " " + where + " illisible" + plural(unreadable);
    else
      note += ", " + std::to_string(unreadable) + " illisible" + plural(unreadable);
  }
  return note.empty() ? note : note + " — voir Rapport";
}

std::vector<std::string> ReportLines(const FrameReport& report) {
  // The debug window shows the lines in a fixed font: each column is
  // padded to its widest cell, counted in characters (not UTF-8 bytes), so
  // "Cochée" and "non" stand one above the other.
  std::vector<std::vector<std::string>> table{ReportColumns()};
  for (const ReportRow& r : report.rows) table.push_back(ReportCells(r));
  auto width = [](const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  };
  std::vector<size_t> widths(table.front().size(), 0);
  for (const auto& row : table)
    for (size_t c = 0; c < row.size() && c < widths.size(); ++c) widths[c] = std::max(widths[c], width(row[c]));
  std::vector<std::string> lines;
  for (const auto& row : table) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - width(row[c]) + 2, ' ');
    }
    lines.push_back(line);
  }
  if (!report.total.empty()) lines.push_back(report.Summary());
  return lines;
}

void RefreshReport(Form1& f) {
  f.Report =
      BuildFrameReport(f.s, f.HasRun ? &f.LastRun : nullptr, f.HasMarks ? &f.LastMarks : nullptr, &f.LastOpening);
  for (const std::string& line : ReportLines(f.Report)) DebugLine(f, line);
}

void ForgetReport(Form1& f) {
  // What the status bar said of the last run, marks or click was about
  // another list.
  f.StatusText.clear();
  f.HasRun = f.HasMarks = false;
  f.LastRun = {};
  f.LastMarks = {};
  f.Report = BuildFrameReport(f.s, nullptr, nullptr, &f.LastOpening);
}

void mnuReport_Click(Form1& f) { f.mnuReport = !f.mnuReport; }

void ReportRow_Click(Form1& f, int image) {
  if (image >= 1 && Form1Idle(f)) SelectPic(f, image, false, false);
}

}  // namespace qv
