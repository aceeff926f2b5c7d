// The light cache: an open-addressing table of cells in world space, each holding the light that
// reaches surfaces in it. Cells grow with the distance from the camera; an entry is keyed by its
// cell and the dominant axis of the surface normal. Included after "util.glsl".
struct LICEntry {
    uint lfHI;     // bits 25-31: frame tag of the last claim or touch; bits 0-24: hash bits
    uint tracePos; // packUnorm4x8 of the traced point as fractions of the cell
    uint normal;   // packSnorm4x8 of the surface normal
    uint dax;      // packSnorm4x8 of the dominant axis; 0: never claimed
    vec4 posS;     // cell minimum corner, edge length in w
    vec4 diLight;  // direct light (rgb sum, weight), set at the claim
    vec4 inLight;  // indirect light: rgb sum, total weight in w
};

layout(std430) buffer liCache {
    LICEntry licEntries[];
};
layout(std430) buffer licInfo {
    uint reserveCount;
    int repeatCount;
    int licFrameNr;
    int liEntryCount;
};

#define LIC_DENSITY 11.0
#define LIC_NEXT 1u
#define LIC_PROBES 20
#define LIC_CELL_STEPS 64
#define LIC_NONE 0xFFFFFFFFu
#define LIC_HASH_MASK 0x1FFFFFFu // lfHI bits 0-24: the low bits of the cell hash
#define LIC_TAG_MASK 0xFE000000u // lfHI bits 25-31: the frame tag
#define LIC_TAG_SHIFT 25
#define PI 3.141592654

// Whether an entry index from a lookup names an entry: LIC_NONE and every value with the top
// bit set name none.
bool licFound(uint e) {
    return e < 0x80000000u;
}

// The cell (minimum corner, edge) of a point: the largest power-of-two cell, from twice the
// distance down, whose edge is shorter than its centre's distance from the camera / density.
// A cell of edge s holds pos, so its centre is at most d + 0.87 s from the camera (d: the
// distance of pos), and every s above d / (density - 0.87) fails the test. The four largest
// sizes are at least d / 8 (the first is at least d), so from density 10 on they are skipped.
vec4 fragBox(vec3 pos, vec3 cam, float density) {
    float size = exp2(1.0 + ceil(log2(length(pos - cam))));
    vec4 result = vec4(pos, size);
    const int skipped = density >= 10.0 ? 4 : 0;
    size *= exp2(-float(skipped));
    for (int step = skipped; step < LIC_CELL_STEPS; ++step) {
        vec3 mi = size * floor(pos / size);
        vec3 centre = mi + size / 2.0;
        if (size < length(centre - cam) / density) return vec4(mi, size);
        size *= 0.5;
    }
    return result;
}

uint fragBoxToHash(vec4 fb) {
    uvec4 t = floatBitsToUint(fb * vec4(0.0124412, 1.31251346123, 321.41231, 0.012341731));
    t = ((t * bitfieldReverse(t.w)) ^ ((bitfieldReverse(t.wzyx) * uvec4(185683u, 736867u, 313009u, 675347u)) >> 7)) ^
        bitfieldReverse((t.zwxy >> 16) * uvec4(162671u, 670321u, 711023u, 506609u));
    return (t.x ^ t.y ^ t.z ^ t.w) >> 4;
}

// The signed unit axis of v's largest component; ties go to y over x and to z over both.
vec3 dominantAxis(vec3 v) {
    vec3 a = abs(v);
    vec3 axis;
    if (a.x > a.y) axis = a.x > a.z ? vec3(1.0, 0.0, 0.0) : vec3(0.0, 0.0, 1.0);
    else axis = a.y > a.z ? vec3(0.0, 1.0, 0.0) : vec3(0.0, 0.0, 1.0);
    return axis * sign(v);
}

uint liTableSize() {
    return min(uint(max(liEntryCount, 0)), uint(licEntries.length()));
}

uint liKeyHash(vec4 fb, uint dax) {
    return fragBoxToHash(fb) + (dax ^ ((dax >> 16) * 37u));
}

// The existing entry of cell fb with that axis within the first `probes` slots of its key.
uint liFindEntry(vec4 fb, uint dax, int probes) {
    uint count = liTableSize();
    if (count == 0u) return LIC_NONE;
    uint h = liKeyHash(fb, dax);
    uint slot = h % count;
    for (int probe = 0; probe < probes; ++probe) {
        if ((licEntries[slot].lfHI & LIC_HASH_MASK) == (h & LIC_HASH_MASK) && licEntries[slot].posS == fb &&
            licEntries[slot].dax == dax)
            return slot;
        slot = (slot + LIC_NEXT) % count;
    }
    return LIC_NONE;
}

// An existing entry of the cell of suat with that normal, neither claimed nor touched.
uint liGetNAEntry(vec3 camPos, vec3 suat, vec3 normal) {
    vec4 fb = fragBox(suat, camPos, LIC_DENSITY);
    return liFindEntry(fb, packSnorm4x8(vec4(dominantAxis(normal), 0.0)), LIC_PROBES);
}

// The entry of the cell of suat with that normal, touched for this frame, or claimed from an
// expired slot; LIC_NONE when 20 slots in a row belong to other cells.
uint liGetEntry(vec3 camPos, vec3 suat, vec3 normal) {
    uint count = liTableSize();
    if (count == 0u) return LIC_NONE;
    vec4 fb = fragBox(suat, camPos, LIC_DENSITY);
    vec3 axis = dominantAxis(normal);
    uint dax = packSnorm4x8(vec4(axis, 0.0));
    uint h = liKeyHash(fb, dax);
    uint f = (h & LIC_HASH_MASK) + (uint(licFrameNr) << LIC_TAG_SHIFT);
    uint tracePos = packUnorm4x8(vec4((suat - fb.xyz) / fb.w, 0.0));
    uint packedNormal = packSnorm4x8(vec4(normal, 0.0));
    uint slot = h % count;
    int probe = 0;
    while (probe < LIC_PROBES) {
        // Past the slots of other cells and those in recent use, reading only, so that the
        // writes below are not paid for on every probe.
        uint e = slot;
        uint seenTag = 0u;
        bool found = false, claimable = false;
        while (probe < LIC_PROBES) {
            ++probe;
            e = slot;
            slot = (slot + LIC_NEXT) % count;
            seenTag = licEntries[e].lfHI;
            if ((seenTag & LIC_HASH_MASK) == (f & LIC_HASH_MASK)) {
                found = licEntries[e].posS == fb && licEntries[e].dax == dax;
                if (found) break;
                continue;
            }
            claimable = int((f & LIC_TAG_MASK) - (seenTag & LIC_TAG_MASK)) < 0;
            if (claimable) break;
        }
        if (found) {
            if (seenTag != f) {
                licEntries[e].lfHI = f;
                licEntries[e].tracePos = tracePos;
                licEntries[e].normal = packedNormal;
            }
            return e;
        }
        if (!claimable) break;
        uint swapped = atomicCompSwap(licEntries[e].lfHI, seenTag, f);
        if (swapped == seenTag) {
            licEntries[e].posS = fb;
            licEntries[e].dax = dax;
            memoryBarrierBuffer();
            licEntries[e].tracePos = tracePos;
            licEntries[e].normal = packedNormal;
            licEntries[e].diLight = vec4(0.00002, 0.00002, 0.00002, 0.001);
            licEntries[e].inLight = vec4(0.00002, 0.00002, 0.00002, 0.001);
            vec3 centre = fb.xyz + fb.w * 0.5;
            for (int d = 0; d < 6; ++d) {
                vec3 direction = vec3(0.0);
                direction[d / 2] = (d % 2 == 0) ? -1.0 : 1.0;
                uint neighbour = liGetNAEntry(camPos, centre + fb.w * direction, axis);
                if (licFound(neighbour) && neighbour != e) {
                    licEntries[e].inLight = licEntries[neighbour].inLight;
                    break;
                }
            }
            return e;
        }
        if (swapped == f && licEntries[e].posS == fb && licEntries[e].dax == dax) return e;
    }
    return LIC_NONE;
}

// The light an entry holds: its sum over its weight, or over 1 while the weight is below one
// sample (a fresh claim's token sum is no light yet); none for LIC_NONE.
vec3 liEntryLight(uint e) {
    vec4 light = licFound(e) ? licEntries[e].inLight : vec4(0.0);
    return light.w > 0.0 ? light.xyz / max(light.w, 1.0) : vec3(0.0);
}

// The cached light at a surface point, read smoothly across cells so that no cell edge shows:
// the point's own entry and those of the cells of the same size one step away in the two
// directions across the surface (the axes other than the normal's dominant one), towards the
// side of the cell the point lies in, weighted bilinearly by the point's place between the four
// cell centres. A cell drops out, and the others are renormalised, when it has no entry for this
// axis (where the cells change size with the distance, the neighbour of the other size is not
// looked for), when its entry has no samples yet (its weight discounts it below one sample), or
// when the surface it was traced from lies off this point's plane by more than half a cell
// (another surface that passes through the cell, such as a step or the top of a dais; the
// point's own cell is judged alike, so the read stays continuous across its edges). own is the
// point's entry from liGetEntry; it stands alone when nothing else is left. The neighbours are
// looked for in their first LIC_NEIGHBOUR_PROBES slots only: this read runs for every pixel,
// and a cell that has no entry costs every probe.
#define LIC_NEIGHBOUR_PROBES 8
vec3 liSmoothLight(vec3 camPos, vec3 suat, vec3 normal, uint own) {
    vec3 axis = dominantAxis(normal);
    if (axis == vec3(0.0)) return liEntryLight(own);
    uint dax = packSnorm4x8(vec4(axis, 0.0));
    vec4 fb = fragBox(suat, camPos, LIC_DENSITY);
    vec3 g = (suat - fb.xyz) / fb.w - 0.5; // from the cell's centre, in cells: each in [-0.5, 0.5)
    int k = axis.x != 0.0 ? 0 : (axis.y != 0.0 ? 1 : 2);
    int ku = (k + 1) % 3, kv = (k + 2) % 3;
    float fu = abs(g[ku]), fv = abs(g[kv]);
    vec3 unitNormal = normalize(normal);
    vec4 sum = vec4(0.0);
    for (int c = 0; c < 4; ++c) {
        vec3 shift = vec3(0.0);
        shift[ku] = (c & 1) != 0 ? sign(g[ku]) : 0.0;
        shift[kv] = (c & 2) != 0 ? sign(g[kv]) : 0.0;
        float w = ((c & 1) != 0 ? fu : 1.0 - fu) * ((c & 2) != 0 ? fv : 1.0 - fv);
        if (w <= 0.0) continue;
        uint e = c == 0 ? own : liFindEntry(vec4(fb.xyz + fb.w * shift, fb.w), dax, LIC_NEIGHBOUR_PROBES);
        if (!licFound(e)) continue;
        vec4 light = licEntries[e].inLight;
        if (!(light.w > 0.0)) continue;
        vec4 cell = licEntries[e].posS;
        vec3 traced = cell.xyz + unpackUnorm4x8(licEntries[e].tracePos).xyz * cell.w;
        if (abs(dot(traced - suat, unitNormal)) > 0.5 * fb.w) continue;
        w *= min(light.w, 1.0);
        sum += vec4(light.xyz / light.w, 1.0) * w;
    }
    return sum.w > 0.0 ? sum.xyz / sum.w : liEntryLight(own);
}
