#pragma once

#include <algorithm>
#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "physics/TopologyScratch.hpp"

// The load pass's arithmetic of a bond: the levers of the two pieces it joins, worked side by side,
// and the terms a load crossing it works with.
namespace zarn::loadpaths {

// Two doubles worked on side by side. Each side of a sum, product or quotient is rounded on its own
// exactly as the plain operation rounds it, so two divisions by one bond's area cost one; without
// SSE2 the two sides are worked one after the other, to the same bits.
class Pair {
  public:
#if defined(__SSE2__) || defined(_M_X64)
    Pair(double first, double second) : lanes_(_mm_set_pd(second, first)) {}
    double operator[](int side) const {
        return _mm_cvtsd_f64(side == 0 ? lanes_ : _mm_unpackhi_pd(lanes_, lanes_));
    }
    friend Pair operator+(Pair a, Pair b) {
        return Pair(_mm_add_pd(a.lanes_, b.lanes_));
    }
    friend Pair operator-(Pair a, Pair b) {
        return Pair(_mm_sub_pd(a.lanes_, b.lanes_));
    }
    friend Pair operator*(Pair a, Pair b) {
        return Pair(_mm_mul_pd(a.lanes_, b.lanes_));
    }
    friend Pair operator/(Pair a, Pair b) {
        return Pair(_mm_div_pd(a.lanes_, b.lanes_));
    }
    friend Pair sqrt(Pair a) {
        return Pair(_mm_sqrt_pd(a.lanes_));
    }

  private:
    explicit Pair(__m128d lanes) : lanes_(lanes) {}
    __m128d lanes_;
#else
    Pair(double first, double second) : lanes_{first, second} {}
    double operator[](int side) const {
        return lanes_[side];
    }
    friend Pair operator+(Pair a, Pair b) {
        return {a[0] + b[0], a[1] + b[1]};
    }
    friend Pair operator-(Pair a, Pair b) {
        return {a[0] - b[0], a[1] - b[1]};
    }
    friend Pair operator*(Pair a, Pair b) {
        return {a[0] * b[0], a[1] * b[1]};
    }
    friend Pair operator/(Pair a, Pair b) {
        return {a[0] / b[0], a[1] / b[1]};
    }
    friend Pair sqrt(Pair a) {
        return {std::sqrt(a[0]), std::sqrt(a[1])};
    }

  private:
    double lanes_[2];
#endif
};

inline Pair both(double value) {
    return {value, value};
}

// What a load crossing a bond works with: |normal . down|, the shear share
// sqrt(1 - (normal . down)^2) and the bending section area * max(1, sqrt(area)). Most bonds are
// level or upright and no larger than a square metre; their roots are known without being taken.
struct BondTerms {
    double absCosine;
    double shear;
    double section;
};

inline BondTerms termsOf(const TopologyScratch::BondNote& note) {
    BondTerms terms;
    const double c = note.cosine;
    terms.absCosine = std::abs(c);
    const double sine = std::max(0.0, 1.0 - c * c);
    terms.shear = sine == 0.0 ? 0.0 : sine == 1.0 ? 1.0 : std::sqrt(sine);
    const double area = note.area;
    terms.section = area <= 1.0 ? area : area * std::max(1.0, std::sqrt(area));
    return terms;
}

// The levers of two pieces' centres about a bond's centre, across the gravity, side by side: the
// centre a on the first side and b on the second, the ends of a bond as a full pass meets them. The
// root is taken even for a piece right above or below its bond: the squared length is a sum of
// squares, never -0, and the root of +0 is +0, so no branch is needed to give such a piece none.
inline Pair leversOf(const Bond& bond, const Vec3& a, const Vec3& b, const Vec3& down) {
    const Pair rx = Pair{a.x, b.x} - both(bond.center.x);
    const Pair ry = Pair{a.y, b.y} - both(bond.center.y);
    const Pair rz = Pair{a.z, b.z} - both(bond.center.z);
    const Pair along = both(down.x) * rx + both(down.y) * ry + both(down.z) * rz;
    const Pair vx = rx - both(down.x) * along;
    const Pair vy = ry - both(down.y) * along;
    const Pair vz = rz - both(down.z) * along;
    return sqrt(vx * vx + vy * vy + vz * vz);
}

// The lever of one piece's centre, for the walks that meet a bond from one end: the first side of
// leversOf, so that every walk gives a link the same lever to the bit.
inline double leverOf(const Bond& bond, const Vec3& center, const Vec3& down) {
    return leversOf(bond, center, center, down)[0];
}

} // namespace zarn::loadpaths
