// Fitting the body model to the marks (fit.h).
//
// The unknowns form one vector x: the free angles, the picture position, the
// log of the scale and, for "Fit", the log of the body width, the belly
// (with distend_belly), and knots 1 to k-1 of each group (logs for the
// girth, so that it stays positive). A Problem holds the terms of the
// current correspondences; its residuals are a smooth function of x, and the
// Jacobian is taken by forward differences. Surface points depend only on
// the shape, so they are kept while only the pose changes: the pose columns
// of the Jacobian cost a projection each.
#include "libs/fennick/fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <vector>

#include "libs/fennick/fennick.h"
#include "libs/fennick/outline.h"
#include "libs/fennick/silhouette.h"

namespace velmora::fennick {
namespace {

constexpr double kPi = std::numbers::pi;

double wrap(double a) {
  return std::remainder(a, 2 * kPi);
}

// The term weights, each scale weight 0 read as 1.
struct Weights {
  double special = 1, mid = 1, top = 1, bottom = 1, overspill = 1;
  double mag = 1, stiff = 1, twist = 1, thin = 1;
};

struct SpecialMark {
  Eigen::Vector2d at;
  double y = 0, theta = 0, weight = 0;
};

// The marks as the fit uses them.
struct Marks {
  std::vector<SpecialMark> special;
  std::vector<Eigen::Vector2d> midline, top, bottom;
  double unit = 1;  // 1% of the marks' extent, pixels
};

// Where each unknown sits in x; -1 when it is not fitted.
struct Layout {
  std::array<int, 3> angle{-1, -1, -1};
  int px = -1, py = -1, log_scale = -1;
  int log_width = -1, belly = -1;
  std::array<int, kKnotGroups> knots{-1, -1, -1, -1};  // x index of knot 1
  std::vector<double> steps;                           // difference step of each unknown
  int size = 0;

  int add(double step) {
    steps.push_back(step);
    return size++;
  }
};

Layout make_layout(const Body& body, const std::array<bool, 3>& locked, bool shape, bool belly) {
  Layout l;
  for (int i = 0; i < 3; ++i)
    if (!locked[i]) l.angle[i] = l.add(1e-6);
  l.px = l.add(1e-3);
  l.py = l.add(1e-3);
  l.log_scale = l.add(1e-6);
  if (!shape) return l;
  l.log_width = l.add(1e-6);
  if (belly) l.belly = l.add(1e-6);
  for (int g = 0; g < kKnotGroups; ++g) {
    const double step = (g == kBendUp || g == kBendSide) ? 1e-3 : 1e-6;
    l.knots[g] = l.size;
    for (int i = 1; i < body.knot_count(g); ++i) l.add(step);
  }
  return l;
}

enum class TermKind { kFull, kNormal, kHinge };

// One mark (or outline sample) against one surface point.
struct Term {
  double y = 0, theta = 0;
  Eigen::Vector2d target;
  Eigen::Vector2d normal{0, 0};
  double weight = 0;  // multiplies the residual
  TermKind kind = TermKind::kFull;
  bool counts_in_rms = true;
};

struct Segment {
  Eigen::Vector2d a, b;
  double ya, ta, yb, tb;  // surface coordinates of the ends
};

// The segment of `segments` nearest to p, as the surface point there and
// the segment's unit normal; nullopt when there is none.
std::optional<Term> nearest_term(const std::vector<Segment>& segments, const Eigen::Vector2d& p) {
  double best = std::numeric_limits<double>::infinity();
  std::optional<Term> out;
  for (const Segment& s : segments) {
    const Eigen::Vector2d ab = s.b - s.a;
    const double len2 = ab.squaredNorm();
    if (!(len2 > 1e-18)) continue;
    const double t = std::clamp((p - s.a).dot(ab) / len2, 0.0, 1.0);
    const double d = (s.a + t * ab - p).squaredNorm();
    if (d < best) {
      best = d;
      Term term;
      term.y = s.ya + t * (s.yb - s.ya);
      term.theta = s.ta + t * wrap(s.tb - s.ta);
      term.target = p;
      term.normal = Eigen::Vector2d(-ab.y(), ab.x()) / std::sqrt(len2);
      term.kind = TermKind::kNormal;
      out = term;
    }
  }
  return out;
}

class Problem {
 public:
  Problem(const Body& body, const ModelState& base, Layout layout, const Marks& marks,
          const Weights& weights, bool edges, bool priors, double midline_theta)
      : body_(body),
        base_(base),
        layout_(std::move(layout)),
        marks_(marks),
        w_(weights),
        edges_(edges),
        priors_(priors),
        midline_theta_(midline_theta) {
    if (priors_) {
      for (int g = 0; g < kKnotGroups; ++g) {
        const int free = body_.knot_count(g) - 1;
        (g == kTwist ? n_twist_ : n_mag_) += free;
        n_stiff_ += std::max(0, body_.knot_count(g) - 2);
      }
      n_thin_ = layout_.belly >= 0 ? 2 : 1;
    }
  }

  int size() const { return layout_.size; }
  const Layout& layout() const { return layout_; }

  Eigen::VectorXd pack(const ModelState& s) const {
    Eigen::VectorXd x(layout_.size);
    for (int i = 0; i < 3; ++i)
      if (layout_.angle[i] >= 0) x(layout_.angle[i]) = s.pose.angles[i];
    x(layout_.px) = s.pose.x;
    x(layout_.py) = s.pose.y;
    x(layout_.log_scale) = std::log(s.pose.scale);
    if (layout_.log_width < 0) return x;
    x(layout_.log_width) = std::log(s.shape.body_width);
    if (layout_.belly >= 0) x(layout_.belly) = s.shape.belly;
    for (int g = 0; g < kKnotGroups; ++g)
      for (int i = 1; i < body_.knot_count(g); ++i) {
        const double v = s.shape.knots[g][i];
        x(layout_.knots[g] + i - 1) = g == kGirth ? std::log(v) : v;
      }
    return x;
  }

  ModelState unpack(const Eigen::VectorXd& x) const {
    ModelState s = base_;
    for (int i = 0; i < 3; ++i)
      if (layout_.angle[i] >= 0) s.pose.angles[i] = x(layout_.angle[i]);
    s.pose.x = x(layout_.px);
    s.pose.y = x(layout_.py);
    s.pose.scale = std::exp(x(layout_.log_scale));
    if (layout_.log_width < 0) return s;
    s.shape.body_width = std::exp(x(layout_.log_width));
    if (layout_.belly >= 0) s.shape.belly = x(layout_.belly);
    for (int g = 0; g < kKnotGroups; ++g)
      for (int i = 1; i < body_.knot_count(g); ++i) {
        const double v = x(layout_.knots[g] + i - 1);
        s.shape.knots[g][i] = g == kGirth ? std::exp(v) : v;
      }
    return s;
  }

  // Renews the correspondences at x; false when x is no body.
  bool associate(const Eigen::VectorXd& x) {
    const ModelState s = unpack(x);
    if (!x.allFinite() || !body_.set_shape(s.shape).ok()) return false;
    points_valid_ = false;
    const View view(s.pose);
    terms_.clear();
    double total = 0;
    for (const SpecialMark& m : marks_.special) total += m.weight;
    for (const SpecialMark& m : marks_.special) {
      Term t;
      t.y = m.y;
      t.theta = m.theta;
      t.target = m.at;
      t.weight = std::sqrt(w_.special * m.weight / total) / marks_.unit;
      terms_.push_back(t);
    }
    if (!marks_.midline.empty()) {
      std::vector<Segment> line;
      const int rows = 96;
      Eigen::Vector2d previous;
      double previous_y = 0;
      for (int r = 0; r < rows; ++r) {
        const double y = body_.first() + (body_.last() - body_.first()) * r / (rows - 1);
        const Eigen::Vector2d p = view.project(body_.sample(y, midline_theta_).point);
        if (r > 0) line.push_back({previous, p, previous_y, midline_theta_, y, midline_theta_});
        previous = p;
        previous_y = y;
      }
      add_nearest(line, marks_.midline, w_.mid, nullptr);
    }
    if (edges_) {
      const Silhouette outline = find_silhouette(body_, view);
      std::vector<Segment> segments;
      for (const auto& branch : outline.branches)
        for (std::size_t i = 1; i < branch.size(); ++i)
          if (branch[i - 1] && branch[i])
            segments.push_back({branch[i - 1]->screen, branch[i]->screen, branch[i - 1]->y,
                                branch[i - 1]->theta, branch[i]->y, branch[i]->theta});
      const std::pair<double, double> none{std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity()};
      std::pair<double, double> top = none, bottom = none;
      add_nearest(segments, marks_.top, w_.top, &top);
      add_nearest(segments, marks_.bottom, w_.bottom, &bottom);
      // Where both outlines are marked, the polygon follows the body; beyond
      // the first or last mark of one list it cuts across to the other's on
      // a chord (the lists end at different places along the body), and the
      // outline there lies outside the chord however well the model fits.
      std::pair<double, double> covered;
      if (marks_.bottom.empty() || marks_.top.empty())
        covered = {std::min(top.first, bottom.first), std::max(top.second, bottom.second)};
      else
        covered = {std::max(top.first, bottom.first), std::min(top.second, bottom.second)};
      add_overspill(outline, covered);
    }
    residual_count_ = 0;
    for (const Term& t : terms_) residual_count_ += t.kind == TermKind::kFull ? 2 : 1;
    residual_count_ += n_mag_ + n_twist_ + n_stiff_ + n_thin_;
    return true;
  }

  bool residuals(const Eigen::VectorXd& x, Eigen::VectorXd* r) {
    const ModelState s = unpack(x);
    if (!x.allFinite() || !refresh_points(x, s)) return false;
    const Eigen::Matrix3d rot = orientation(s.pose.angles);
    r->resize(residual_count_);
    int k = 0;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
      const Term& t = terms_[i];
      const Eigen::Vector3d c = rot * points_[i];
      const Eigen::Vector2d d =
          Eigen::Vector2d(s.pose.x + s.pose.scale * c.x(), s.pose.y + s.pose.scale * c.y()) -
          t.target;
      switch (t.kind) {
        case TermKind::kFull:
          (*r)(k++) = t.weight * d.x();
          (*r)(k++) = t.weight * d.y();
          break;
        case TermKind::kNormal:
          (*r)(k++) = t.weight * t.normal.dot(d);
          break;
        case TermKind::kHinge:
          (*r)(k++) = t.weight * std::max(0.0, t.normal.dot(d));
          break;
      }
    }
    add_priors(s, r, &k);
    return r->allFinite();
  }

  bool jacobian(const Eigen::VectorXd& x, const Eigen::VectorXd& r, Eigen::MatrixXd* j) {
    j->resize(r.size(), layout_.size);
    Eigen::VectorXd moved;
    for (int c = 0; c < layout_.size; ++c) {
      Eigen::VectorXd xc = x;
      xc(c) += layout_.steps[c];
      if (!residuals(xc, &moved) || moved.size() != r.size()) return false;
      j->col(c) = (moved - r) / layout_.steps[c];
    }
    return true;
  }

  // Root mean square distance of the marks to the model, pixels.
  double rms(const Eigen::VectorXd& x) {
    const ModelState s = unpack(x);
    if (!refresh_points(x, s)) return 0;
    const View view(s.pose);
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
      const Term& t = terms_[i];
      if (!t.counts_in_rms) continue;
      const Eigen::Vector2d d = view.project(points_[i]) - t.target;
      sum += t.kind == TermKind::kFull ? d.squaredNorm() : std::pow(t.normal.dot(d), 2);
      ++n;
    }
    return n ? std::sqrt(sum / n) : 0.0;
  }

 private:
  void add_nearest(const std::vector<Segment>& segments, const std::vector<Eigen::Vector2d>& marks,
                   double weight, std::pair<double, double>* covered) {
    if (marks.empty()) return;
    for (const Eigen::Vector2d& m : marks) {
      std::optional<Term> t = nearest_term(segments, m);
      if (!t) continue;
      t->weight = std::sqrt(weight / marks.size()) / marks_.unit;
      if (covered) covered->first = std::min(covered->first, t->y);
      if (covered) covered->second = std::max(covered->second, t->y);
      terms_.push_back(*t);
    }
  }

  // The outline where it leaves the marked edges' polygon, within the
  // stretch of body both edge lists were matched to (one list's, when the
  // other is empty).
  void add_overspill(const Silhouette& outline, std::pair<double, double> covered) {
    std::vector<Eigen::Vector2d> polygon = marks_.top;
    if (polygon.size() + marks_.bottom.size() < 3 || !(covered.first < covered.second)) return;
    // Close the top list with the bottom one in the order that does not cross.
    std::vector<Eigen::Vector2d> bottom = marks_.bottom;
    if (!polygon.empty() && !bottom.empty() &&
        (polygon.back() - bottom.front()).norm() > (polygon.back() - bottom.back()).norm())
      std::reverse(bottom.begin(), bottom.end());
    polygon.insert(polygon.end(), bottom.begin(), bottom.end());
    std::vector<Term> outside;
    int considered = 0;
    for (const auto& branch : outline.branches)
      for (const auto& c : branch) {
        if (!c || c->y < covered.first || c->y > covered.second) continue;
        ++considered;
        if (inside_polygon(polygon, c->screen)) continue;
        const Eigen::Vector2d q = nearest_on_polygon(polygon, c->screen);
        const double d = (c->screen - q).norm();
        if (!(d > 0)) continue;
        Term t;
        t.y = c->y;
        t.theta = c->theta;
        t.target = q;
        t.normal = (c->screen - q) / d;
        t.kind = TermKind::kHinge;
        t.counts_in_rms = false;
        outside.push_back(t);
      }
    for (Term& t : outside) {
      t.weight = std::sqrt(w_.overspill / considered) / marks_.unit;
      terms_.push_back(t);
    }
  }

  bool refresh_points(const Eigen::VectorXd& x, const ModelState& s) {
    const int shape_from = layout_.log_width;
    if (points_valid_ && (shape_from < 0 || x.tail(layout_.size - shape_from) == cached_shape_))
      return true;
    if (shape_from >= 0) {
      if (!body_.set_shape(s.shape).ok()) return false;
      cached_shape_ = x.tail(layout_.size - shape_from);
    }
    points_.resize(terms_.size());
    for (std::size_t i = 0; i < terms_.size(); ++i)
      points_[i] = body_.sample(terms_[i].y, terms_[i].theta).point;
    points_valid_ = true;
    return true;
  }

  void add_priors(const ModelState& s, Eigen::VectorXd* r, int* k) const {
    if (!priors_) return;
    const double bend_sigma = 0.05 * (body_.last() - body_.first());
    auto deviation = [&](int g, int i) {
      const double v = s.shape.knots[g][i], rest = s.rest.knots[g][i];
      if (g == kGirth) return std::log(v / rest) / 0.2;
      if (g == kTwist) return (v - rest) / 0.1;
      return (v - rest) / bend_sigma;
    };
    const double mag = std::sqrt(w_.mag / std::max(1, n_mag_));
    const double twist = std::sqrt(w_.twist / std::max(1, n_twist_));
    const double stiff = std::sqrt(w_.stiff / std::max(1, n_stiff_));
    const double thin = std::sqrt(w_.thin / std::max(1, n_thin_));
    for (int g = 0; g < kKnotGroups; ++g)
      for (int i = 1; i < body_.knot_count(g); ++i)
        (*r)((*k)++) = (g == kTwist ? twist : mag) * deviation(g, i);
    for (int g = 0; g < kKnotGroups; ++g)
      for (int i = 1; i + 1 < body_.knot_count(g); ++i)
        (*r)((*k)++) = stiff * (deviation(g, i - 1) - 2 * deviation(g, i) + deviation(g, i + 1));
    (*r)((*k)++) = thin * std::log(s.shape.body_width / s.rest.body_width) / 0.2;
    if (layout_.belly >= 0) (*r)((*k)++) = thin * (s.shape.belly - s.rest.belly) / 0.2;
  }

  Body body_;
  ModelState base_;
  Layout layout_;
  const Marks& marks_;
  Weights w_;
  bool edges_, priors_;
  double midline_theta_;
  int n_mag_ = 0, n_twist_ = 0, n_stiff_ = 0, n_thin_ = 0;
  std::vector<Term> terms_;
  int residual_count_ = 0;
  std::vector<Eigen::Vector3d> points_;
  bool points_valid_ = false;
  Eigen::VectorXd cached_shape_;
};

struct RunResult {
  bool converged = false;
  int iterations = 0;
  double cost = 0;
};

// Levenberg-Marquardt with the correspondences renewed after each step.
//
// Renewal makes the cost piecewise smooth only: a mark may change segment,
// an outline sample may leave or enter the marked polygon, so after a step
// the cost can rise by a few per cent where the smooth cost fell. Asking for
// a change of a part in a million then chases that chatter to the iteration
// limit. Instead the run ends when the best cost seen has not fallen by a
// part in ten thousand over the last kStale steps, or when no step lowers
// the cost of the current correspondences, or when a step is negligible;
// the best point seen is the result.
RunResult levenberg_marquardt(Problem& p, Eigen::VectorXd* x, int max_iterations) {
  constexpr int kStale = 4;
  RunResult out;
  if (!p.associate(*x)) return out;
  Eigen::VectorXd r;
  if (!p.residuals(*x, &r)) return out;
  double cost = r.squaredNorm();
  Eigen::VectorXd best = *x;
  double best_cost = cost, stale_reference = cost;
  int stale = 0;
  double lambda = 1e-3;
  Eigen::MatrixXd j;
  for (int it = 0; it < max_iterations; ++it) {
    out.iterations = it + 1;
    if (!p.jacobian(*x, r, &j)) return out;
    const Eigen::MatrixXd h = j.transpose() * j;
    const Eigen::VectorXd g = j.transpose() * r;
    std::optional<Eigen::VectorXd> accepted;
    Eigen::VectorXd trial_r, delta;
    while (lambda < 1e12) {
      Eigen::MatrixXd a = h;
      a.diagonal() += lambda * (h.diagonal().array() + 1e-9).matrix();
      delta = a.ldlt().solve(-g);
      if (delta.allFinite()) {
        const Eigen::VectorXd trial = *x + delta;
        if (p.residuals(trial, &trial_r) && trial_r.squaredNorm() < cost) {
          accepted = trial;
          lambda = std::max(lambda / 3, 1e-12);
          break;
        }
      }
      lambda *= 4;
    }
    if (!accepted) {  // no lower cost near x for these correspondences
      out.converged = true;
      break;
    }
    const double before = cost;
    *x = *accepted;
    if (!p.associate(*x) || !p.residuals(*x, &r)) return out;
    cost = r.squaredNorm();
    if (cost < best_cost) {
      best_cost = cost;
      best = *x;
    }
    if (std::abs(before - cost) <= 1e-6 * before + 1e-18 ||
        (delta.array().abs() <= 1e-9 * (1 + x->array().abs())).all()) {
      out.converged = true;
      break;
    }
    if (best_cost < (1 - 1e-4) * stale_reference) {
      stale_reference = best_cost;
      stale = 0;
    } else if (++stale >= kStale) {
      out.converged = true;
      break;
    }
  }
  if (!(best == *x)) {
    *x = best;
    if (!p.associate(*x)) return RunResult{};
  }
  out.cost = best_cost;
  return out;
}

// The Euler angles of a rotation in the form of body_model.h, of the two
// solutions the one nearest to `near`, each angle within pi of it.
std::array<double, 3> angles_of(const Eigen::Matrix3d& r, const std::array<double, 3>& near) {
  const double b = std::atan2(r(0, 2), std::hypot(r(0, 0), r(0, 1)));
  const double a = std::atan2(r(1, 2), r(2, 2)), c = std::atan2(r(0, 1), r(0, 0));
  const std::array<std::array<double, 3>, 2> candidates = {
      std::array<double, 3>{a, b, c}, std::array<double, 3>{a + kPi, kPi - b, c + kPi}};
  std::array<double, 3> best{};
  double best_distance = std::numeric_limits<double>::infinity();
  for (const auto& cand : candidates) {
    double distance = 0;
    std::array<double, 3> moved{};
    for (int i = 0; i < 3; ++i) {
      const double d = wrap(cand[i] - near[i]);
      distance += std::abs(d);
      moved[i] = near[i] + d;
    }
    if (distance < best_distance) best_distance = distance, best = moved;
  }
  return best;
}

// Picture positions of the special points with scale 1 at the origin.
std::vector<Eigen::Vector2d> unit_projection(const Body& body, const std::array<double, 3>& angles,
                                             const Marks& marks) {
  const View view(Pose{angles, 0, 0, 1});
  std::vector<Eigen::Vector2d> out;
  for (const SpecialMark& m : marks.special)
    out.push_back(view.project(body.sample(m.y, m.theta).point));
  return out;
}

// Weighted similarity (turn, scale, shift) taking `from` onto the marks.
struct Similarity {
  double turn = 0, scale = 1;
  Eigen::Vector2d shift{0, 0};
};

Similarity similarity(const std::vector<Eigen::Vector2d>& from, const Marks& marks, bool turn) {
  double total = 0;
  Eigen::Vector2d cf(0, 0), cm(0, 0);
  for (std::size_t i = 0; i < from.size(); ++i) {
    const double w = marks.special[i].weight;
    total += w;
    cf += w * from[i];
    cm += w * marks.special[i].at;
  }
  cf /= total;
  cm /= total;
  double dot = 0, cross = 0, norm = 0;
  for (std::size_t i = 0; i < from.size(); ++i) {
    const double w = marks.special[i].weight;
    const Eigen::Vector2d a = from[i] - cf, b = marks.special[i].at - cm;
    dot += w * a.dot(b);
    cross += w * (a.x() * b.y() - a.y() * b.x());
    norm += w * a.squaredNorm();
  }
  Similarity s;
  if (!(norm > 0)) return s;
  s.turn = turn ? std::atan2(cross, dot) : 0.0;
  s.scale = (turn ? std::hypot(dot, cross) : dot) / norm;
  if (!(s.scale > 0)) s.scale = std::hypot(dot, cross) / norm;
  const Eigen::Rotation2Dd rot(s.turn);
  s.shift = cm - s.scale * (rot * cf);
  return s;
}

// The surface line a midline mark follows: of the dorsal, ventral and the
// two flank lines, the one that faces the camera most squarely mid-body.
double midline_theta(const Body& body, const Pose& pose) {
  const View view(pose);
  const double y = 0.5 * (body.first() + body.last());
  double best = body.table_angle(), best_z = std::numeric_limits<double>::infinity();
  for (int q = 0; q < 4; ++q) {
    const double theta = body.table_angle() + q * kPi / 2;
    const double z = see(body, view, y, theta).normal.z();
    if (z < best_z) best_z = z, best = theta;
  }
  return best;
}

double weight(double scale) {
  return scale == 0 ? 1.0 : scale;
}

int32_t bad(std::string* message, const std::string& text) {
  *message = text;
  return kFennickBadArguments;
}

// Reads and checks what the fit takes from the records.
int32_t read_inputs(const FitRequest& q, bool refine, Marks* marks, Weights* w,
                    std::array<bool, 3>* locked, std::string* message) {
  const FitControl& c = *q.control;
  const MarkedPoints& mp = *q.marks;
  const double scales[] = {c.scale_special, c.scale_mid,   c.scale_overspill, c.scale_mag,
                           c.scale_edge,    c.scale_stiff, c.scale_twist,     c.scale_thin};
  for (double s : scales)
    if (!std::isfinite(s) || s < 0)
      return bad(message, "FitControl: a scale weight is negative or not finite");
  if (!read_lock_code(c.lock_code, locked))
    return bad(message, "FitControl: lock code " + std::to_string(c.lock_code) +
                            " (its digits must be 1, 2 or 3)");
  for (int v : mp.trailing)
    if (v < 0) return bad(message, "MarkedPoints: a trailing multiplier is negative");
  const double per_mille[5] = {mp.trailing[0] / 1000.0, mp.trailing[1] / 1000.0,
                               mp.trailing[2] / 1000.0, std::max(0.05, mp.trailing[3] / 1000.0),
                               mp.trailing[4] / 1000.0};
  w->special = weight(c.scale_special) * per_mille[4];
  w->mid = weight(c.scale_mid) * per_mille[2];
  w->top = weight(c.scale_edge) * per_mille[0];
  w->bottom = weight(c.scale_edge) * per_mille[1];
  w->overspill = weight(c.scale_overspill);
  w->mag = weight(c.scale_mag) * per_mille[3];
  w->stiff = weight(c.scale_stiff) * per_mille[3];
  w->twist = weight(c.scale_twist) * per_mille[3];
  w->thin = weight(c.scale_thin) * per_mille[3];

  for (const PointList* l : {&mp.midline, &mp.top, &mp.bottom})
    if (l->count < 0 || l->count > kMaxListPoints)
      return bad(message, "MarkedPoints: a list count of " + std::to_string(l->count) +
                              ", expected 0 to 100");
  const ModelRecord& model = *q.model;
  const int specials = std::clamp(model.special_count, 0, kMaxSpecialPoints);
  for (int i = 0; i < specials; ++i) {
    if (mp.placed[i] != 1 || mp.weights[i] <= 0) continue;
    const double y = model.special_y[i], theta = model.special_theta[i];
    if (!std::isfinite(y) || !std::isfinite(theta))
      return bad(message, "ModelRecord: special point " + std::to_string(i) + " is not finite");
    marks->special.push_back({Eigen::Vector2d(mp.special[2 * i], mp.special[2 * i + 1]), y, theta,
                              mp.weights[i] / 1000.0});
  }
  if (!(w->special > 0)) marks->special.clear();
  marks->midline = list_points(mp.midline);
  if (!(w->mid > 0)) marks->midline.clear();
  if (refine) {
    // Only the Fit's lists are up to date; drop the window's closing points.
    std::vector<Eigen::Vector2d> top = list_points(mp.top), bottom = list_points(mp.bottom);
    if (!top.empty() && !bottom.empty()) {
      top.resize(real_point_count(mp.top, {mp.bottom.x[0], mp.bottom.y[0]}, true));
      bottom.resize(real_point_count(mp.bottom, {mp.top.x[0], mp.top.y[0]}, false));
    }
    if (w->top > 0) marks->top = top;
    if (w->bottom > 0) marks->bottom = bottom;
  }
  // The unit of distance: 1% of the diagonal of the marks' box.
  Eigen::AlignedBox2d box;
  for (const auto& m : marks->special) box.extend(m.at);
  for (const auto* l : {&marks->midline, &marks->top, &marks->bottom})
    for (const auto& p : *l) box.extend(p);
  marks->unit = box.isEmpty() ? 1.0 : std::max(1.0, 0.01 * box.diagonal().norm());
  return kFennickOk;
}

int32_t not_converged(std::string* message, const std::string& what) {
  *message = what + " did not converge; the model keeps its pose";
  return kFitNotConverged;
}

// Whether the marks tell which way the body is turned out of the picture.
//
// The body is its own mirror image across its plane of symmetry (the model
// file's sections are symmetric, theta against -theta), and the camera is
// orthographic, so the body at angles (p0, p1, p2) and its mirror image at
// (-p0, -p1, p2) cover the same pixels: the outline, and every point of the
// plane of symmetry (the tail base, the sternum, the dorsal midline), land
// where they landed. With bends sideways and twist mirrored too, the two
// poses fit such marks equally well, so the turn out of the picture (and
// the roll with it) is not in the marks: the foreshortening that remains
// also matches a slimmer or stouter animal. A midline along the flank shown,
// or a special point off the plane (a shoulder, a hip), is seen on one side
// only, and tells the two apart.
bool marks_show_a_side(const Body& body, const Marks& marks) {
  if (!marks.midline.empty()) return true;
  for (const SpecialMark& m : marks.special)
    if (std::abs(std::sin(m.theta - body.table_angle())) > 0.2) return true;
  return false;
}

// Whether the pose's mirror image (above) lies within 60 degrees of it, as
// for a side view, where a fit could slide from one to the other; from
// above or below, the mirror image looks at the other side of the animal,
// and a fit started at one never meets the other.
bool near_its_mirror(const std::array<double, 3>& angles) {
  const Eigen::Matrix3d r = orientation(angles);
  const Eigen::Matrix3d mirror =
      Eigen::Vector3d(1, 1, -1).asDiagonal() * r * Eigen::Vector3d(1, 1, -1).asDiagonal();
  return (r.transpose() * mirror).trace() > 1 + 2 * std::cos(kPi / 3);
}

// A fit that shrinks the body to a speck (marks on one spot, say) has met
// no animal: the body must span at least a tenth of the marks' extent.
bool collapsed(const Body& body, const ModelState& s, const Marks& marks) {
  return !(s.pose.scale * (body.last() - body.first()) >= 10 * marks.unit);
}

int32_t collapse(std::string* message, const std::string& what) {
  *message = what + " shrank the model to a speck; the model keeps its pose";
  return kFitNotConverged;
}

}  // namespace

bool read_lock_code(int32_t code, std::array<bool, 3>* locked) {
  *locked = {false, false, false};
  if (code < 0) return false;
  for (int32_t c = code; c > 0; c /= 10) {
    switch (c % 10) {
      case 1:
        (*locked)[1] = true;
        break;
      case 2:
        (*locked)[0] = true;
        break;
      case 3:
        break;
      default:
        return false;
    }
  }
  return true;
}

int32_t fit_model(const Body& body, const ModelState& start, const FitRequest& q,
                  ModelState* fitted, std::string* message) {
  if (!q.model || !q.marks || !q.control) return bad(message, "fit: a record is missing");
  Marks marks;
  Weights w;
  std::array<bool, 3> locked{};
  if (int32_t code = read_inputs(q, q.refine, &marks, &w, &locked, message); code != kFennickOk)
    return code;
  // Marks that cannot tell a pose from its mirror image leave roll and yaw
  // where they started (the operator's side view): either mirror pose would
  // be a guess, and a wrong guess puts the flank's pattern twice as far off
  // as the side view does.
  if (!marks_show_a_side(body, marks) &&
      near_its_mirror(q.initial ? q.start_angles : start.pose.angles))
    locked[0] = locked[1] = true;
  ModelState state = start;
  int iterations = 0;
  double rms = 0;
  const bool belly = q.control->distend_belly != 0;

  if (q.initial) {
    for (double a : q.start_angles)
      if (!std::isfinite(a)) return bad(message, "FitParams: a starting angle is not finite");
    if (!(std::isfinite(q.start_width) && q.start_width > 0))
      return bad(message, "FitParams[6]: the body width must be positive");
    if (marks.special.size() < 2) {
      *message = "the initial fit needs at least two placed special points";
      return kFitTooFewMarks;
    }
    state.shape.body_width = q.start_width;
    state.rest.body_width = q.start_width;
    Body shaped = body;
    if (!shaped.set_shape(state.shape).ok())
      return bad(message, "the model's shape is not one the body can take");
    // The turn within the picture, the scale and the shift from the
    // special points; the angles the picture cannot show are spread round
    // their starting values.
    const Similarity first =
        similarity(unit_projection(shaped, q.start_angles, marks), marks, true);
    Eigen::Matrix3d turn = Eigen::Matrix3d::Identity();
    turn.topLeftCorner<2, 2>() = Eigen::Rotation2Dd(first.turn).toRotationMatrix();
    std::array<double, 3> aligned = angles_of(turn * orientation(q.start_angles), q.start_angles);
    for (int i = 0; i < 3; ++i)
      if (locked[i]) aligned[i] = q.start_angles[i];
    const double mid_theta = midline_theta(shaped, Pose{aligned, 0, 0, 1});
    const std::vector<double> yaw =
        locked[1] ? std::vector<double>{0} : std::vector<double>{0, -0.35, 0.35, -0.7, 0.7};
    const std::vector<double> roll =
        locked[0] ? std::vector<double>{0} : std::vector<double>{0, -0.3, 0.3};
    std::optional<Eigen::VectorXd> best;
    double best_cost = std::numeric_limits<double>::infinity();
    const Layout layout = make_layout(shaped, locked, false, false);
    for (double dy : yaw)
      for (double dr : roll) {
        std::array<double, 3> angles = aligned;
        angles[1] += dy;
        angles[0] += dr;
        const Similarity fit = similarity(unit_projection(shaped, angles, marks), marks, false);
        ModelState s = state;
        s.pose = Pose{angles, fit.shift.x(), fit.shift.y(), fit.scale};
        Problem problem(shaped, s, layout, marks, w, false, false, mid_theta);
        Eigen::VectorXd x = problem.pack(s);
        const RunResult run = levenberg_marquardt(problem, &x, q.max_iterations);
        iterations += run.iterations;
        if (run.converged && run.cost < best_cost) {
          best_cost = run.cost;
          best = x;
          state.pose = problem.unpack(x).pose;
          rms = problem.rms(x);
        }
      }
    if (!best) return not_converged(message, "the initial fit");
    if (collapsed(body, state, marks)) return collapse(message, "the initial fit");
  }

  if (q.refine) {
    if (marks.special.size() < 2 && marks.top.size() + marks.bottom.size() < 4) {
      *message = "the fit needs two placed special points or four edge points";
      return kFitTooFewMarks;
    }
    Body shaped = body;
    if (!shaped.set_shape(state.shape).ok())
      return bad(message, "the model's shape is not one the body can take");
    const double mid_theta = midline_theta(shaped, state.pose);
    // The pose first, then pose and shape together: the shape's priors
    // would otherwise hold the body where a poor pose leaves it.
    for (const bool shape : {false, true}) {
      Problem problem(shaped, state, make_layout(shaped, locked, shape, belly), marks, w, true,
                      shape, mid_theta);
      Eigen::VectorXd x = problem.pack(state);
      const RunResult run = levenberg_marquardt(problem, &x, q.max_iterations);
      iterations += run.iterations;
      if (!run.converged) return not_converged(message, "the fit");
      state = problem.unpack(x);
      rms = problem.rms(x);
    }
    if (collapsed(body, state, marks)) return collapse(message, "the fit");
  }

  state.last_fit = {rms, iterations, kFennickOk};
  *fitted = state;
  message->clear();
  return kFennickOk;
}

}  // namespace velmora::fennick
