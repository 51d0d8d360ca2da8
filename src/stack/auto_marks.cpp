#include "stack/auto_marks.h"

#include <algorithm>
#include <cmath>

#include "core/median.h"
#include "core/paths.h"
#include "process/process_pic.h"
#include "stack/auto_guide.h"
#include "stack/frames.h"
#include "stack/guide.h"

namespace qv {

namespace {

// Index of the star of `field` nearest to p within tol, or -1.
long NearestStar(const StarField& field, Point2 p, double tol) {
  long best = -1;
  double bestD = tol;
  for (size_t k = 0; k < field.stars.size(); ++k) {
    const double d = std::hypot(field.stars[k].x - p.x, field.stars[k].y - p.y);
    if (d <= bestD) {
      bestD = d;
      best = static_cast<long>(k);
    }
  }
  return best;
}

// The centroid a Ctrl click at p gives; false when its window holds no light.
bool ClickCentroid(Session& s, Point2 p, double& cx, double& cy) {
  try {
    StarCentroid(s, CInt(p.x), CInt(p.y), cx, cy);
    return std::isfinite(cx) && std::isfinite(cy);
  } catch (const RuntimeError&) {
    return false;
  }
}

// A rotation star of the reference image: bright but not clipped, alone in
// the window the centroid looks at (a brighter neighbour there would pull
// the centroid onto itself), away from the borders, and as far from the
// guide star as possible, since the turn is read from the direction between
// the two.
long PickRotationStar(const StarField& field, Point2 guide) {
  const double diag = std::hypot(field.width, field.height);
  long best = -1;
  double bestScore = 0;
  for (size_t k = 0; k < field.stars.size(); ++k) {
    const StarSpot& c = field.stars[k];
    if (c.hot || c.saturated || c.peak < 20 * field.sky.noise) continue;
    const double margin = 16 + 0.05 * std::min(field.width, field.height);
    if (c.x < margin || c.y < margin || c.x > field.width - 1 - margin || c.y > field.height - 1 - margin) continue;
    const double d = std::hypot(c.x - guide.x, c.y - guide.y);
    if (d < 0.2 * diag) continue;
    bool alone = true;
    for (size_t j = 0; j < field.stars.size() && alone; ++j)
      if (j != k && std::fabs(field.stars[j].x - c.x) <= 14 && std::fabs(field.stars[j].y - c.y) <= 14 &&
          field.stars[j].peak >= 0.5 * c.peak)
        alone = false;
    if (!alone) continue;
    const double score = d * std::sqrt(c.peak);
    if (score > bestScore) {
      bestScore = score;
      best = static_cast<long>(k);
    }
  }
  return best;
}

// Out of the stack, as when the user unticks the image.
void Uncheck(Session& s, int i) { s.Entry(i).ImgChecked = 0; }

// A star of `field` lies at p: what a position read from a project must
// show before the marks trust it, since the tracking may have left it on
// empty sky.
bool OnStar(const StarField& field, Point2 p) {
  constexpr double kReach = 8;  // pixels: a click a little beside the star
  for (const StarSpot& c : field.stars)
    if (!c.hot && std::hypot(c.x - p.x, c.y - p.y) <= kReach) return true;
  return false;
}

// The star the marks follow on image k, whose planes are current: the
// reference the user placed, else the guide star the user placed, else the
// automatic choice. False, with the message, when there is none.
bool ChooseStar(Session& s, int k, const StarField& field, const StarField& candidates, Point2& star,
                AutoMarkReport& report) {
  const ImageEntry& e = s.Entry(k);
  const double u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
  const struct {
    PairOrigin origin;
    Point2 at;
    StarSource source;
    const char* what;
  } pairs[] = {{e.RefOrigin, {e.ImgRefX * u1, e.ImgRefY * u2}, StarSource::Reference, "la référence"},
               {e.GuideOrigin, {e.ImgGuideX * u1, e.ImgGuideY * u2}, StarSource::Guide, "l'étoile guide"}};
  for (const auto& pair : pairs) {
    if (pair.origin == PairOrigin::Inherited) continue;
    if (pair.origin == PairOrigin::Loaded && !OnStar(field, pair.at)) {
      report.notes.push_back(std::string(pair.what) + " du projet (" + std::to_string(CInt(pair.at.x)) + ", " +
                             std::to_string(CInt(pair.at.y)) + ") n'est pas sur une étoile");
      continue;
    }
    star = pair.at;
    report.source = pair.source;
    return true;
  }
  double x = 0, y = 0;
  if (const Outcome chosen = ChooseGuideStar(candidates, s.guide.GuideBox, x, y); !chosen) {
    report.message = "aucune étoile guide convenable sur l'image " + std::to_string(k) + " : " + chosen.why;
    return false;
  }
  star = {x, y};
  report.source = StarSource::Automatic;
  return true;
}

}  // namespace

int FirstChecked(const Session& s) {
  int k = 1;
  while (k <= s.ImageCount() && s.Img[static_cast<size_t>(k)].ImgChecked == 0) ++k;
  return k;
}

int32_t FullScaleOf(const Session& s, int i) { return s.Img.at(static_cast<size_t>(i)).ImgBitpix == 8 ? 2040 : 65535; }

AutoMarker::AutoMarker(Session& s, const AutoMarkOptions& options) : s_(s), options_(options) {}

bool AutoMarker::Reference(bool planesHold) {
  const int k = FirstChecked(s_);
  if (k > s_.ImageCount()) {
    report_.message = "aucune image cochée";
    return false;
  }
  report_.reference = k;
  processed_ = planesHold ? Outcome::Success() : ProcessPic(s_, k, 1);
  if (!processed_.ok) {
    report_.message = UnreadableImageWords(k, processed_);
    report_.referenceUnread = processed_.why.empty() ? "image illisible" : processed_.why;
    return false;
  }
  // The match keeps the 400 brightest, the guide star's choice looks
  // further: one detection gives both.
  std::vector<StarField> fields =
      DetectStarsKeeping(s_.pic.PicR, s_.pic.PicG, s_.pic.PicB, FullScaleOf(s_, k), 5, {400, 2000});
  refField_ = std::move(fields[0]);
  candidates_ = std::move(fields[1]);
  return true;
}

bool AutoMarker::Start() {
  Session& s = s_;
  const int k = report_.reference;
  if (s.pic.PicR.UBound1() < 1 || s.pic.PicR.UBound2() < 1) {
    report_.message = "l'image " + std::to_string(k) + " est illisible (" + PathName(s.Entry(k).ImgFile) + ")";
    report_.referenceUnread = "image illisible";
    return false;
  }
  ImageEntry& ref = s.Entry(k);
  const double u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
  // The star that the tracking follows from the reference image on.
  if (!ChooseStar(s, k, refField_, candidates_, guide_, report_)) return false;
  refPoints_ = MatchablePoints(refField_);
  if (refPoints_.size() < 4) {
    report_.message = "trop peu d'étoiles sur l'image " + std::to_string(k) + " (" + std::to_string(refPoints_.size()) +
                      ") pour reconnaître le champ";
    return false;
  }
  // As a click on the star followed by a Maj+click on it: the run takes its
  // reference there and follows it from there.
  guide_ = {RoundHalfEven(guide_.x), RoundHalfEven(guide_.y)};
  ref.ImgGuideX = ref.ImgRefX = guide_.x / u1;
  ref.ImgGuideY = ref.ImgRefY = guide_.y / u2;
  ref.GuideOrigin = ref.RefOrigin = PairOrigin::Placed;
  // The first image of the stack measures the star where it is placed and
  // takes its template there.
  ref.ImgRegFlags |= kNewRef | kNewPos;
  report_.ok = true;

  ImageMark first;
  first.image = k;
  first.marked = first.reference = true;
  first.x = guide_.x;
  first.y = guide_.y;
  first.stars = refField_.stars.size();
  first.agreeing = refPoints_.size();
  first.scored = true;
  first.score = ScoreFrame(s.pic.PicR, s.pic.PicG, s.pic.PicB, refField_, MatchableStars(refField_));
  if (options_.rotation) {
    const long r = PickRotationStar(refField_, guide_);
    double cx = 0, cy = 0;
    if (r >= 0 &&
        ClickCentroid(s, {refField_.stars[static_cast<size_t>(r)].x, refField_.stars[static_cast<size_t>(r)].y}, cx,
                      cy)) {
      // As Ctrl and Alt clicks on the star with both rotation boxes checked:
      // the first image only fixes the direction the others turn from.
      ref.ImgRot = ref.ImgNewRot = 1;
      ref.ImgRotX = ref.ImgNewRotX = cx / u1;
      ref.ImgRotY = ref.ImgNewRotY = cy / u2;
      rotStar_ = {cx, cy};
      rotation_ = first.rotationMarked = true;
      first.rotX = cx;
      first.rotY = cy;
    }
  }
  report_.images.push_back(first);
  return true;
}

ImageMark AutoMarker::Mark(int i) {
  Session& s = s_;
  const int k = report_.reference;
  const MatchOptions match;
  ImageMark m;
  m.image = i;
  auto fail = [&](const std::string& why) {
    m.reason = why;
    if (!options_.keepUnmarked) Uncheck(s, i);
  };
  before_.emplace_back(i, s.Entry(i));
  processed_ = ProcessPic(s, i, 1);
  if (!processed_.ok || s.pic.PicR.UBound1() < 1 || s.pic.PicR.UBound2() < 1) {
    // What the reading met, when it says: another size is no unreadable file.
    fail(processed_.ok || processed_.why.empty() ? "image illisible" : processed_.why);
  } else {
    const double u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
    const StarField field = DetectStars(s.pic.PicR, s.pic.PicG, s.pic.PicB, FullScaleOf(s, i));
    m.stars = field.stars.size();
    const std::vector<size_t> matchable = MatchableStars(field);
    const StarMatch found = MatchStars(refPoints_, MatchablePoints(field), match);
    m.agreeing = found.agreeing;
    m.rms = found.rms;
    // The seeing is read on the stars the match recognised: a frame that
    // matched nothing has no star known to be one of the field's.
    std::vector<size_t> matched;
    if (found.outcome == MatchOutcome::Matched)
      for (const auto& pair : found.pairs) matched.push_back(matchable[pair.second]);
    m.scored = true;
    m.score = ScoreFrame(s.pic.PicR, s.pic.PicG, s.pic.PicB, field, matched);
    const std::string other = "l'image " + std::to_string(k);
    switch (found.outcome) {
      case MatchOutcome::TooFewStars:
        fail("trop peu d'étoiles (" + std::to_string(field.stars.size()) + ") : nuages ou image vide");
        break;
      case MatchOutcome::NoMatch:
        fail("les étoiles ne correspondent pas à celles de " + other + " (autre champ ou nuages)");
        break;
      case MatchOutcome::Ambiguous:
        fail("correspondance ambiguë avec " + other);
        break;
      case MatchOutcome::Matched: {
        const Similarity& t = found.transform;
        m.angle = t.AngleDegrees();
        // The star's own centre on this image, keeping the offset between
        // the reference mark and the reference star's centre.
        Point2 mark = t.Apply(guide_);
        const long rs = NearestStar(refField_, guide_, 3);
        if (rs >= 0) {
          const StarSpot& c = refField_.stars[static_cast<size_t>(rs)];
          const long fs = NearestStar(field, t.Apply({c.x, c.y}), match.tolerance);
          if (fs >= 0) {
            const double ox = guide_.x - c.x, oy = guide_.y - c.y;
            mark = {field.stars[static_cast<size_t>(fs)].x + t.a * ox - t.b * oy,
                    field.stars[static_cast<size_t>(fs)].y + t.b * ox + t.a * oy};
          }
        }
        const double px = RoundHalfEven(mark.x), py = RoundHalfEven(mark.y);
        if (px < 0 || py < 0 || px > u1 || py > u2) {
          fail("l'étoile guide est hors de cette image");
          break;
        }
        // What a click on the star with "Nouvelle position (Click)" does.
        ImageEntry& e = s.Entry(i);
        e.ImgRegFlags |= kNewPos;
        e.ImgGuideX = px / u1;
        e.ImgGuideY = py / u2;
        e.GuideOrigin = PairOrigin::Placed;
        m.marked = true;
        m.x = px;
        m.y = py;
        if (rotation_) {
          const Point2 q = t.Apply(rotStar_);
          double cx = 0, cy = 0;
          e.ImgNewRot = 0;
          if (q.x >= 0 && q.y >= 0 && q.x <= u1 && q.y <= u2 && ClickCentroid(s, q, cx, cy) &&
              std::hypot(cx - q.x, cy - q.y) <= match.tolerance) {
            e.ImgRot = 1;
            e.ImgRotX = cx / u1;
            e.ImgRotY = cy / u2;
            m.rotationMarked = true;
            m.rotX = cx;
            m.rotY = cy;
          } else {
            // Without the star this image keeps the last measured turn.
            e.ImgRot = 0;
          }
        }
        // A guide-star change on this image: the new star is followed on.
        if ((e.ImgRegFlags & kNewRef) && (e.ImgRefX != 0 || e.ImgRefY != 0))
          guide_ = t.Inverse({e.ImgRefX * u1, e.ImgRefY * u2});
        break;
      }
    }
  }
  report_.images.push_back(m);
  return m;
}

void AutoMarker::LeaveOutWide(float factor) {
  factor = MaxFwhmOf(factor);
  if (factor <= 0) return;
  std::vector<double> widths;
  for (const ImageMark& m : report_.images)
    if ((m.marked || m.reference) && m.score.shaped) widths.push_back(m.score.fwhm);
  if (widths.empty()) return;
  const double median = SampleMedian(widths);
  for (ImageMark& m : report_.images) {
    if (m.reference || !m.marked || !m.score.shaped || m.score.fwhm <= factor * median) continue;
    const auto b = std::find_if(before_.begin(), before_.end(), [&](const auto& e) { return e.first == m.image; });
    if (b != before_.end()) s_.Entry(m.image) = b->second;
    m.marked = m.rotationMarked = false;
    m.reason =
        "FWHM " + FormatFixed1(m.score.fwhm, s_.locale) + " > " + LocaleFromSingle(factor, s_.locale) + " x médiane";
    if (!options_.keepUnmarked) Uncheck(s_, m.image);
  }
}

void MarkingRun::Begin(Session& s, const RunRequest& request) {
  next = marker->Report().reference + 1;
  planesOf = marker->Report().reference;
  int first, last;
  RunRange(s, request, first, last);
  if (marker->Options().keepUnmarked && first > next) {
    MarkUpTo(s, s.ImageCount());
    planesOf = 0;
  }
}

void MarkingRun::MarkUpTo(Session& s, int last) {
  for (; marker && next <= last; ++next) {
    if (s.Img[static_cast<size_t>(next)].ImgChecked == 0) continue;
    if (s.progress.StopRequested()) return;
    const ImageMark m = marker->Mark(next);
    planesOf = next;
    Marked(m);
  }
}

Outcome MarkingRun::Select(Session& s, int i) {
  if (!marker || planesOf != i) return ProcessAndTrack(s, i, true, *this);
  // Processed by its marking, which nothing has undone since.
  planesOf = 0;
  s.CurPic = static_cast<int16_t>(i);
  ProcessAndTrack(s, i, false, *this);
  return marker->Processed();
}

AutoMarkReport AutoMarks(Session& s, const AutoMarkOptions& options,
                         const std::function<void(const ImageMark&)>& onImage) {
  AutoMarker marker(s, options);
  if (!marker.Reference() || !marker.Start()) return marker.Report();
  if (onImage) onImage(marker.Report().images.front());
  // The median FWHM needs every image: the images are told of at the end.
  const bool sifting = MaxFwhmOf(s.opt.MaxFwhm) > 0;
  bool stopped = false;
  for (int i = marker.Report().reference + 1; i <= s.ImageCount(); ++i) {
    if (s.Img[static_cast<size_t>(i)].ImgChecked == 0) continue;
    if (s.progress.StopRequested()) {
      stopped = true;
      break;
    }
    const ImageMark m = marker.Mark(i);
    if (onImage && !sifting) onImage(m);
  }
  if (sifting && !stopped) marker.LeaveOutWide(s.opt.MaxFwhm);
  if (sifting && onImage)
    for (size_t k = 1; k < marker.Report().images.size(); ++k) onImage(marker.Report().images[k]);
  return marker.Report();
}

}  // namespace qv
