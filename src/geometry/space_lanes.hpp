// Small groups of configurations in space superimposed side by side, one
// group per lane, as the lane groups of tile_ops.hpp do in the plane.
//
// Internal to geometry/: tile_ops.hpp includes this inside its kernel
// namespace, once per variant, after the plane's lane loops it uses.  A tile
// holds coordinate q = 3j + a (axis a of landmark j) of lane l at
// t[q * W + l].
//
// The rotation of each fit comes from Horn's unit quaternion: the
// eigenvector of the largest eigenvalue of the symmetric 4 x 4 matrix built
// from the cross products.  That eigenvalue is the largest root of the
// matrix's characteristic polynomial, found by Newton's method from an upper
// bound (it falls to the root without overshooting); the eigenvector is the
// column of the adjugate of the matrix less that root with the largest
// diagonal element.  A quaternion is a rotation whatever its sign, so no
// reflection can come out.  The trace of the fit, s1 + s2 + d s3 of the
// singular values, is then taken from the rotation and the cross products,
// where an error in the rotation enters only squared.
//
// The rows stay centred, so the sums of their coordinates are not taken,
// and each row's squared size is carried from pass to pass rather than
// measured again.  Every step is the same sequence of additions, multiplications and
// divisions in every lane; a lane's Newton steps stop by its own test and
// the lane then keeps its value while others go on, so each lane's numbers
// depend only on its own group, in every variant alike.  They agree with
// SpaceRun's, which turns by a singular value decomposition, to rounding.

typedef Lanes SpaceCross[9];  // a[3p + q] = sum over landmarks of w_p z_q

// Newton's steps stop once a step moves the root by no more than this part
// of it; a lane never takes more than kMostNewtonSteps.
constexpr double kNewtonSettled = 1e-10;
constexpr int kMostNewtonSteps = 64;

inline Lanes abs_lanes(Lanes v) { return v < broadcast<Lanes>(0.0) ? -v : v; }

inline bool any_lane(LaneMask m) {
    for (std::size_t l = 0; l < W; ++l)
        if (m[l]) return true;
    return false;
}

// The largest roots of x^4 + c2 x^2 + c1 x + c0 of N tiles from `start`,
// above them.  The tiles' steps are independent chains, taken side by side
// so that one need not wait for another's division.
template <int N>
inline void largest_roots(const Lanes* c2, const Lanes* c1, const Lanes* c0, const Lanes* start, Lanes* x) {
    LaneMask live[N];
    for (int h = 0; h < N; ++h) {
        x[h] = start[h];
        live[h] = start[h] == start[h];  // every lane that is a number
    }
    const Lanes two = broadcast<Lanes>(2.0), four = broadcast<Lanes>(4.0), settled = broadcast<Lanes>(kNewtonSettled);
    for (int i = 0; i < kMostNewtonSteps; ++i) {
        LaneMask any = live[0];
        for (int h = 1; h < N; ++h) any |= live[h];
        if (!any_lane(any)) break;
        for (int h = 0; h < N; ++h) {
            const Lanes x2 = x[h] * x[h];
            const Lanes p = (x2 + c2[h]) * x2 + c1[h] * x[h] + c0[h];
            const Lanes dp = four * x2 * x[h] + two * c2[h] * x[h] + c1[h];
            const Lanes step = p / dp;
            const Lanes next = x[h] - step;
            x[h] = live[h] ? next : x[h];
            live[h] &= abs_lanes(step) > settled * abs_lanes(next);
        }
    }
}

// Horn's symmetric 4 x 4 matrix of the cross products `a` and its
// characteristic polynomial x^4 + c2 x^2 + c1 x + c0 (its trace is 0).
struct HornMatrix {
    Lanes n[4][4];
    Lanes c2, c1, c0;
};

// The 2 x 2 minors of rows 0, 1 (s) and 2, 3 (c) of a 4 x 4 matrix m.
inline void minors(const Lanes (&m)[4][4], Lanes* s, Lanes* c) {
    s[0] = m[0][0] * m[1][1] - m[1][0] * m[0][1];
    s[1] = m[0][0] * m[1][2] - m[1][0] * m[0][2];
    s[2] = m[0][0] * m[1][3] - m[1][0] * m[0][3];
    s[3] = m[0][1] * m[1][2] - m[1][1] * m[0][2];
    s[4] = m[0][1] * m[1][3] - m[1][1] * m[0][3];
    s[5] = m[0][2] * m[1][3] - m[1][2] * m[0][3];
    c[5] = m[2][2] * m[3][3] - m[3][2] * m[2][3];
    c[4] = m[2][1] * m[3][3] - m[3][1] * m[2][3];
    c[3] = m[2][1] * m[3][2] - m[3][1] * m[2][2];
    c[2] = m[2][0] * m[3][3] - m[3][0] * m[2][3];
    c[1] = m[2][0] * m[3][2] - m[3][0] * m[2][2];
    c[0] = m[2][0] * m[3][1] - m[3][0] * m[2][1];
}

inline void horn_matrix(const SpaceCross& a, HornMatrix& h) {
    // s_ab = sum of z_a w_b = a[3b + a]
    const Lanes sxx = a[0], sxy = a[3], sxz = a[6], syx = a[1], syy = a[4], syz = a[7], szx = a[2], szy = a[5], szz = a[8];
    Lanes(&n)[4][4] = h.n;
    n[0][0] = sxx + syy + szz;
    n[0][1] = n[1][0] = syz - szy;
    n[0][2] = n[2][0] = szx - sxz;
    n[0][3] = n[3][0] = sxy - syx;
    n[1][1] = sxx - syy - szz;
    n[1][2] = n[2][1] = sxy + syx;
    n[1][3] = n[3][1] = szx + sxz;
    n[2][2] = syy - sxx - szz;
    n[2][3] = n[3][2] = syz + szy;
    n[3][3] = szz - sxx - syy;
    Lanes sq = broadcast<Lanes>(0.0);
    for (int i = 0; i < 9; ++i) sq += a[i] * a[i];
    const Lanes det_s = sxx * (syy * szz - syz * szy) - sxy * (syx * szz - syz * szx) + sxz * (syx * szy - syy * szx);
    Lanes s[6], c[6];
    minors(n, s, c);
    h.c2 = broadcast<Lanes>(-2.0) * sq;
    h.c1 = broadcast<Lanes>(-8.0) * det_s;
    h.c0 = s[0] * c[5] - s[1] * c[4] + s[2] * c[3] + s[3] * c[2] - s[4] * c[1] + s[5] * c[0];
}

// The rotation (r[3p + q], turning z onto w) for the largest root `lambda`
// of Horn's matrix, from the eigenvector in the adjugate of the matrix less
// lambda, and its trace with the cross products `a`.  Lanes where the
// rotation is not determined (lambda double: a configuration on a line) get
// a trace of not-a-number, which their caller takes as a failure.
inline void turn_from_root(HornMatrix& h, const SpaceCross& a, Lanes lambda, Lanes* r, Lanes& trace) {
    Lanes(&n)[4][4] = h.n;
    for (int i = 0; i < 4; ++i) n[i][i] -= lambda;
    Lanes s[6], c[6];
    minors(n, s, c);
    // The adjugate's diagonal, and its columns (it is symmetric).
    const Lanes d0 = n[1][1] * c[5] - n[1][2] * c[4] + n[1][3] * c[3];
    const Lanes d1 = n[0][0] * c[5] - n[0][2] * c[2] + n[0][3] * c[1];
    const Lanes d2 = n[3][0] * s[4] - n[3][1] * s[2] + n[3][3] * s[0];
    const Lanes d3 = n[2][0] * s[3] - n[2][1] * s[1] + n[2][2] * s[0];
    const Lanes col0[4] = {d0, n[1][2] * c[2] - n[1][0] * c[5] - n[1][3] * c[1], n[1][0] * c[4] - n[1][1] * c[2] + n[1][3] * c[0],
                           n[1][1] * c[1] - n[1][0] * c[3] - n[1][2] * c[0]};
    const Lanes col1[4] = {col0[1], d1, n[0][1] * c[2] - n[0][0] * c[4] - n[0][3] * c[0],
                           n[0][0] * c[3] - n[0][1] * c[1] + n[0][2] * c[0]};
    const Lanes col2[4] = {col0[2], col1[2], d2, n[3][1] * s[1] - n[3][0] * s[3] - n[3][2] * s[0]};
    const Lanes col3[4] = {col0[3], col1[3], col2[3], d3};
    const Lanes a0 = abs_lanes(d0), a1 = abs_lanes(d1), a2 = abs_lanes(d2), a3 = abs_lanes(d3);
    const LaneMask use1 = a1 > a0, use2 = (a2 > a0) & (a2 > a1), use3 = (a3 > a0) & (a3 > a1) & (a3 > a2);
    Lanes q[4];
    for (int i = 0; i < 4; ++i) q[i] = use3 ? col3[i] : use2 ? col2[i] : use1 ? col1[i] : col0[i];
    const Lanes most = use3 ? a3 : use2 ? a2 : use1 ? a1 : a0;
    // An adjugate small against the cube of the root: the root is double, or
    // so nearly that its eigenvector is lost in rounding.
    const LaneMask lost = ~(most > broadcast<Lanes>(1e-8) * (lambda * lambda * lambda));
    const Lanes inv = broadcast<Lanes>(1.0) / (q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    const Lanes two = broadcast<Lanes>(2.0);
    const Lanes w = q[0], x = q[1], y = q[2], z = q[3];
    r[0] = (w * w + x * x - y * y - z * z) * inv;
    r[1] = two * (x * y - w * z) * inv;
    r[2] = two * (x * z + w * y) * inv;
    r[3] = two * (x * y + w * z) * inv;
    r[4] = (w * w - x * x + y * y - z * z) * inv;
    r[5] = two * (y * z - w * x) * inv;
    r[6] = two * (x * z - w * y) * inv;
    r[7] = two * (y * z + w * x) * inv;
    r[8] = (w * w - x * x - y * y + z * z) * inv;
    trace = broadcast<Lanes>(0.0);
    for (int i = 0; i < 9; ++i) trace += r[i] * a[i];
    trace = lost ? broadcast<Lanes>(std::nan("")) : trace;
}

// The rotations and traces of the cross products of N tiles at once; each
// `bound` is at least its trace.
template <int N>
inline void best_turns(const SpaceCross* a, const Lanes* bound, Lanes (*r)[9], Lanes* trace) {
    HornMatrix h[N];
    Lanes c2[N], c1[N], c0[N], root[N];
    for (int i = 0; i < N; ++i) {
        horn_matrix(a[i], h[i]);
        c2[i] = h[i].c2;
        c1[i] = h[i].c1;
        c0[i] = h[i].c0;
    }
    largest_roots<N>(c2, c1, c0, bound, root);
    for (int i = 0; i < N; ++i) turn_from_root(h[i], a[i], root[i], r[i], trace[i]);
}

// The cross products of one sweep of every lane of tile t against the
// lanes' own references; with `zz` also the lanes' squared lengths.  The
// rows are centred (the table centres them, and a fit keeps the centroid
// where it is), so the cross products need no correction for the centroid.
template <bool Sizes>
inline void space_sums(const double* t, const double* ref, int k, SpaceCross& a, Lanes* zz) {
    for (int i = 0; i < 9; ++i) a[i] = broadcast<Lanes>(0.0);
    Lanes size = broadcast<Lanes>(0.0);
    for (int j = 0; j < k; ++j) {
        const std::size_t q = 3 * static_cast<std::size_t>(j);
        const Lanes z0 = load<Lanes>(t + q * W), z1 = load<Lanes>(t + (q + 1) * W), z2 = load<Lanes>(t + (q + 2) * W);
        const Lanes w0 = load<Lanes>(ref + q * W), w1 = load<Lanes>(ref + (q + 1) * W), w2 = load<Lanes>(ref + (q + 2) * W);
        a[0] += w0 * z0;
        a[1] += w0 * z1;
        a[2] += w0 * z2;
        a[3] += w1 * z0;
        a[4] += w1 * z1;
        a[5] += w1 * z2;
        a[6] += w2 * z0;
        a[7] += w2 * z1;
        a[8] += w2 * z2;
        if constexpr (Sizes) size += z0 * z0 + z1 * z1 + z2 * z2;
    }
    if constexpr (Sizes) *zz = size;
}

// Full fit of every lane of N tiles, t[0] then t[1] ..., onto its own
// reference (squared length `ww`), adding the fitted rows to the lanes'
// column sums in that order.  zz[h] holds tile h's squared sizes: measured
// at the first pass, then carried along, as a fit by the factor f turns the
// squared size zz into f^2 zz.  Masked: `frozen` lanes keep their rows, and
// only `counted` lanes add.
template <bool First, bool Masked, int N>
inline void fit_space_lanes(double* const* t, const double* ref, Lanes ww, int k, double* acc, double* const* zz, LaneMask frozen,
                            const LaneMask* counted) {
    SpaceCross a[N];
    Lanes size[N], bound[N], r[N][9], trace[N];
    for (int h = 0; h < N; ++h) {
        space_sums<First>(t[h], ref, k, a[h], &size[h]);
        if constexpr (!First) size[h] = load<Lanes>(zz[h]);
        bound[h] = (size[h] + ww) * broadcast<Lanes>(0.5);
    }
    best_turns<N>(a, bound, r, trace);
    for (int h = 0; h < N; ++h) {
        const Lanes f = trace[h] / size[h];
        Lanes next = f * f * size[h];
        if constexpr (Masked) next = frozen ? size[h] : next;
        store(zz[h], next);
        for (int i = 0; i < 9; ++i) r[h][i] *= f;
        for (int j = 0; j < k; ++j) {
            const std::size_t q = 3 * static_cast<std::size_t>(j);
            double* p = t[h] + q * W;
            const Lanes z[3] = {load<Lanes>(p), load<Lanes>(p + W), load<Lanes>(p + 2 * W)};
            for (std::size_t c = 0; c < 3; ++c) {
                Lanes nz = r[h][3 * c] * z[0] + r[h][3 * c + 1] * z[1] + r[h][3 * c + 2] * z[2];
                const Lanes s = load<Lanes>(acc + (q + c) * W);
                if constexpr (Masked) {
                    nz = frozen ? z[c] : nz;
                    store(acc + (q + c) * W, counted[h] ? s + nz : s);
                } else {
                    store(acc + (q + c) * W, s + nz);
                }
                store(p + c * W, nz);
            }
        }
    }
}

// The squared full distances of every lane of N tiles (squared sizes
// `zz`) from the lanes' references (squared lengths `ww`), the lanes neither
// moved nor turned.
template <int N>
inline void distances_sq_space_lanes(const double* const* t, const double* ref, int k, const Lanes* zz, Lanes ww, Lanes* d) {
    SpaceCross a[N];
    Lanes bound[N], rot[N][9], trace[N];
    for (int h = 0; h < N; ++h) {
        space_sums<false>(t[h], ref, k, a[h], nullptr);
        bound[h] = broadcast<Lanes>(0.5) * (zz[h] + ww);
    }
    best_turns<N>(a, bound, rot, trace);
    const Lanes zero = broadcast<Lanes>(0.0);
    for (int h = 0; h < N; ++h) {
        const Lanes e = ww - trace[h] * trace[h] / zz[h];
        d[h] = e < zero ? zero : e;
    }
}

// The squared length of every lane's reference.
inline Lanes squared_length(const double* ref, std::size_t m1) {
    Lanes ww = broadcast<Lanes>(0.0);
    for (std::size_t q = 0; q < m1; ++q) {
        const Lanes v = load<Lanes>(ref + q * W);
        ww += v * v;
    }
    return ww;
}

// The mean of every lane's rows rescaled to unit centroid size, into
// `next`; returns the lanes' squared changes from `ref`.
Lanes next_space_reference(double* next, const double* ref, const double* acc, Lanes count, int k) {
    const std::size_t m1 = 3 * static_cast<std::size_t>(k);
    for (std::size_t q = 0; q < m1; ++q) store(next + q * W, load<Lanes>(acc + q * W) / count);
    Lanes sum[3] = {broadcast<Lanes>(0.0), broadcast<Lanes>(0.0), broadcast<Lanes>(0.0)};
    for (std::size_t q = 0; q < m1; ++q) sum[q % 3] += load<Lanes>(next + q * W);
    const Lanes p = broadcast<Lanes>(static_cast<double>(k));
    const Lanes centre[3] = {sum[0] / p, sum[1] / p, sum[2] / p};
    Lanes ss = broadcast<Lanes>(0.0);
    for (std::size_t q = 0; q < m1; q += 3) {
        const Lanes dx = load<Lanes>(next + q * W) - centre[0], dy = load<Lanes>(next + (q + 1) * W) - centre[1];
        const Lanes dz = load<Lanes>(next + (q + 2) * W) - centre[2];
        ss += dx * dx + dy * dy + dz * dz;
    }
    const Lanes size = sqrt_lanes(ss);
    Lanes xd = broadcast<Lanes>(0.0);
    for (std::size_t q = 0; q < m1; ++q) {
        const Lanes r = load<Lanes>(next + q * W) / size;
        store(next + q * W, r);
        const Lanes e = r - load<Lanes>(ref + q * W);
        xd += e * e;
    }
    return xd;
}

// One pass over the tiles of every lane (the first also copies the rows in
// and measures their sizes into `zz`, one tile of lanes a row).
void space_lane_pass(LaneGroups& g, double* tiles, double* zz, const double* ref, double* acc, bool first, std::size_t live,
                     LaneMask frozen) {
    const std::size_t m1 = 3 * static_cast<std::size_t>(g.k);
    std::size_t rows = 0, fewest = g.n[0];
    for (std::size_t l = 0; l < W; ++l) {
        rows = g.n[l] > rows ? g.n[l] : rows;
        fewest = g.n[l] < fewest ? g.n[l] : fewest;
    }
    std::memset(acc, 0, m1 * W * sizeof(double));
    const Lanes ww = squared_length(ref, m1);
    std::size_t t = 0;
    for (; t + 2 <= rows; t += 2) {  // two tiles at a time, then an odd one
        double* const pair[2] = {tiles + t * m1 * W, tiles + (t + 1) * m1 * W};
        double* const sizes[2] = {zz + t * W, zz + (t + 1) * W};
        LaneMask counted[2];
        for (std::size_t l = 0; l < W; ++l) {
            counted[0][l] = t < g.n[l] ? -1 : 0;
            counted[1][l] = t + 1 < g.n[l] ? -1 : 0;
        }
        if (first) {
            gather_lanes(g, t, pair[0], m1);
            gather_lanes(g, t + 1, pair[1], m1);
            fit_space_lanes<true, true, 2>(pair, ref, ww, g.k, acc, sizes, frozen, counted);
        } else if (live == W && t + 1 < fewest) {
            fit_space_lanes<false, false, 2>(pair, ref, ww, g.k, acc, sizes, frozen, counted);
        } else {
            fit_space_lanes<false, true, 2>(pair, ref, ww, g.k, acc, sizes, frozen, counted);
        }
    }
    if (t < rows) {
        double* const tile[1] = {tiles + t * m1 * W};
        double* const sizes[1] = {zz + t * W};
        LaneMask counted[1];
        for (std::size_t l = 0; l < W; ++l) counted[0][l] = t < g.n[l] ? -1 : 0;
        if (first) gather_lanes(g, t, tile[0], m1);
        if (first) fit_space_lanes<true, true, 1>(tile, ref, ww, g.k, acc, sizes, frozen, counted);
        else fit_space_lanes<false, true, 1>(tile, ref, ww, g.k, acc, sizes, frozen, counted);
    }
}

// The consensus iteration of every lane, as SpaceRun::iterate makes it;
// each lane's final reference goes to `fin` when it settles.  False when a
// lane gives not-a-number or does not settle.
bool space_lane_iteration(LaneGroups& g, double* tiles, double* zz, double* ref, double* fin) {
    const std::size_t m1 = 3 * static_cast<std::size_t>(g.k);
    double* old = ref + m1 * W;
    double* acc = old + m1 * W;
    Lanes count;
    for (std::size_t l = 0; l < W; ++l) {
        count[l] = static_cast<double>(g.n[l]);
        const double* first = g.table->row(static_cast<std::size_t>(g.rows[l][0]));
        for (std::size_t q = 0; q < m1; ++q) ref[q * W + l] = first[q];
    }
    const double tol = 1.4901161193847656e-08 * static_cast<double>(g.k);
    LaneMask frozen{};
    std::size_t live = W;
    for (std::size_t pass = 1; live > 0; ++pass) {
        if (pass > g.max_passes) return false;
        space_lane_pass(g, tiles, zz, ref, acc, pass == 1, live, frozen);
        const Lanes xd = next_space_reference(old, ref, acc, count, g.k);
        std::swap(ref, old);
        LaneMask settled{};
        for (std::size_t l = 0; l < W; ++l) {
            if (frozen[l]) continue;
            if (std::isnan(xd[l])) return false;
            if (xd[l] > tol) continue;
            settled[l] = frozen[l] = -1;
            --live;
            g.passes[l] = pass;
        }
        if (any_lane(settled))
            for (std::size_t q = 0; q < m1; ++q)
                store(fin + q * W, settled ? load<Lanes>(ref + q * W) : load<Lanes>(fin + q * W));
    }
    return true;
}

bool lane_groups_space(LaneGroups& g) {
    const std::size_t m1 = 3 * static_cast<std::size_t>(g.k);
    std::size_t rows = 0;
    for (std::size_t l = 0; l < W; ++l) rows = g.n[l] > rows ? g.n[l] : rows;
    double* tiles = g.buf;
    double* fin = tiles + rows * m1 * W;
    double* zz = fin + 4 * m1 * W;
    if (!space_lane_iteration(g, tiles, zz, fin + m1 * W, fin)) return false;
    // The sums of squared distances, as SpaceRun::principal_axes_distances takes them.
    const Lanes ww = squared_length(fin, m1);
    Lanes total = broadcast<Lanes>(0.0);
    for (std::size_t t = 0; t < rows; t += 2) {
        const double* const pair[2] = {tiles + t * m1 * W, tiles + (t + 1) * m1 * W};
        const Lanes sizes[2] = {load<Lanes>(zz + t * W), t + 1 < rows ? load<Lanes>(zz + (t + 1) * W) : broadcast<Lanes>(1.0)};
        Lanes d[2];
        if (t + 1 < rows) distances_sq_space_lanes<2>(pair, fin, g.k, sizes, ww, d);
        else distances_sq_space_lanes<1>(pair, fin, g.k, sizes, ww, d);
        for (std::size_t h = 0; h < 2 && t + h < rows; ++h) {
            LaneMask counted;
            for (std::size_t l = 0; l < W; ++l) counted[l] = t + h < g.n[l] ? -1 : 0;
            total = counted ? total + d[h] : total;
        }
    }
    for (std::size_t l = 0; l < W; ++l) {
        g.ss[l] = total[l];
        if (!std::isfinite(total[l])) return false;
    }
    return true;
}
