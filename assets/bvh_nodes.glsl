#version 450 core
// The triangle tree's inner nodes over the leaves of "bvh_leaves.glsl", by agglomerative
// clustering of the leaves in key order: in each round every cluster finds, among its neighbours
// in that order, the one whose joint box has the least surface, and clusters that find each
// other merge into a new node, the order of the rest kept. arg0 = (triangle count T, round r or
// sort digit, pass, forced), passes:
//   6, 9, 7, 10, 8 for each digit: a stable radix sort of the primitives by their keys, whose
//       last digit scatters in pass 17 and writes the leaves (Sort);
//   0, one invocation, after the sort: the first round;
//   1, one invocation per NEAR_GROUP clusters: their nearest neighbours (forced: their partners in
//      fixed pairs);
//   2, one invocation per block of TREE_BLOCK clusters: the clusters it keeps and the merges;
//   11, 3, 12: where each block's clusters and new nodes go (prefix sums), and the next round;
//   4, one invocation per block: the clusters of the next round in order, noting the merges;
//   18, one invocation per node that round r made: the node;
//   5, one invocation per node: the links a walk follows;
//   13, one invocation, for small trees (kTreeSmall triangles at most): passes 2, 11, 3, 12 and 4 of a
//       round in turn (a dispatch costs more than such a round's serial work);
//   14, one invocation, likewise: passes 9, 7 and 10 of a digit;
//   16, one invocation, for at most kTreeSerialSort triangles: the whole sort, digit by digit;
//   15, for larger trees in place of pass 5, one invocation per node that round r made, the
//       rounds from last to first: its second child's skip link (top down, so no walk up).
// Passes 1, 2, 4, 13, 15 and 18 are dispatched indirectly with sizes that passes 0, 3 and 13 write.
//!!using:util.glsl
#ifdef COMPUTE
layout(local_size_x = 64, local_size_y = 1, local_size_z = 1) in;
uniform ivec4 arg0;
#ifndef TREE_PASS
#define TREE_PASS arg0.z // the renderer builds one program per pass (TREE_PASS defined)
#endif
layout(std430) buffer arg1_tree {
    BIVH nodeItems[];
};
layout(std430) buffer arg2_scratch {
    uint scratch[];
};

#define GROUP gl_WorkGroupSize.x
#define DIGIT_BITS 10u
#define DIGITS 1024u
#define SORT_DIGITS 3u    // the keys' 30 bits (the tails' TREE_NO_KEY is left out at the first)
#define SORT_BLOCK 2048u // keys per block of the sort's counts
// Neighbours searched on each side: 16 while the clusters are few enough for it to be cheap (the
// upper part of the tree, which every ray walks; on the demo's frame 16 rather than 8 saves a
// seventh of the node visits), 3 before. Over the scaling benchmark's halls and terrain, node
// visits per shadow ray with 1, 2, 3, 4 or 6 a side before 16384 clusters: 45.5, 44.7, 43.4, 49.5,
// 46.0 at 195,820 triangles and 55.6, 51.7, 50.7, 51.4, 51.4 at 962,732; 16 throughout needs more.
#define SEARCH_RADIUS_WIDE 16
#define SEARCH_RADIUS_NARROW 3
#define SEARCH_WIDE_BELOW 16384u
// Clusters per invocation of the neighbour search.
#define NEAR_GROUP 32
// Work groups of one dispatch row.
#define ROW_GROUPS 32768u


// Indirect dispatch arguments at `at` for one invocation per item, in rows of ROW_GROUPS groups.
void writeDispatch(uint at, uint items) {
    uint groups = (items + GROUP - 1u) / GROUP;
    scratch[at] = min(groups, ROW_GROUPS);
    scratch[at + 1u] = groups == 0u ? 0u : (groups + ROW_GROUPS - 1u) / ROW_GROUPS;
    scratch[at + 2u] = 1u;
}

// The dispatches of a round of n clusters (slot: the round's parity).
void writeRoundDispatches(uint slot, uint n) {
    uint working = n > 1u ? n : 0u;
    writeDispatch(TREE_CLUSTER_ARGS + 3u * slot, (working + uint(NEAR_GROUP) - 1u) / uint(NEAR_GROUP));
    writeDispatch(TREE_BLOCK_ARGS + 3u * slot, (working + TREE_BLOCK - 1u) / TREE_BLOCK);
    writeDispatch(TREE_ROUND_ARGS + 3u * slot, min(working, 1u));
}

// The tree's head: the root is the last node made (the only leaf when there is one).
void writeHead(uint T) {
    uint nodes = scratch[TREE_NEXT_NODE] - 1u;
    scratch[treeParent(T) + nodes] = 0u;
    nodeItems[0] = BIVH(ivec4(0, 0, 0, int(nodes)), ivec4(0, 0, 0, int(nodes)));
}

// Once one cluster is left, the rounds of either parity find it and dispatch nothing (the rounds
// of small trees, whose pass 13 then no longer runs, need both).
void finishRounds(uint T, uint clusters) {
    for (uint slot = 0u; slot < 2u; ++slot) {
        scratch[TREE_CLUSTERS + slot] = clusters;
        writeRoundDispatches(slot, clusters);
    }
    writeHead(T);
}

// ---- Prefix sums ----
// Exclusive prefix sums over long arrays in three passes: each chunk of TREE_SCAN entries sums
// itself, one invocation sums the chunks, each chunk then writes its entries' sums. Software
// rasterisers end a loop after 65535 turns, so no loop of one invocation may run longer.
#define TREE_SCAN 1024u

// The chunk sums: two arrays of T / TREE_SCAN + 2 words.
uint scanSums(uint T) {
    return treeBlockKept(T) + DIGITS * (T / SORT_BLOCK + 1u);
}

uint scanStride(uint T) {
    return T / TREE_SCAN + 2u;
}

// The sums of chunk c of the `count` entries at `a` (and at `b` unless it is 0).
void sumChunk(uint T, uint a, uint b, uint count, uint c) {
    uint first = c * TREE_SCAN;
    if (first >= count) return;
    uint sumA = 0u, sumB = 0u;
    for (uint e = first; e < min(count, first + TREE_SCAN); ++e) {
        sumA += scratch[a + e];
        if (b != 0u) sumB += scratch[b + e];
    }
    scratch[scanSums(T) + c] = sumA;
    scratch[scanSums(T) + scanStride(T) + c] = sumB;
}

// One invocation: the chunk sums in place as exclusive prefix sums; returns the totals.
uvec2 scanChunkSums(uint T, uint count) {
    uint chunks = (count + TREE_SCAN - 1u) / TREE_SCAN;
    uvec2 total = uvec2(0u);
    for (uint c = 0u; c < chunks; ++c) {
        uvec2 sum = uvec2(scratch[scanSums(T) + c], scratch[scanSums(T) + scanStride(T) + c]);
        scratch[scanSums(T) + c] = total.x;
        scratch[scanSums(T) + scanStride(T) + c] = total.y;
        total += sum;
    }
    return total;
}

// Chunk c's entries as exclusive prefix sums, `b`'s starting from `baseB`.
void applyChunk(uint T, uint a, uint b, uint count, uint c, uint baseB) {
    uint first = c * TREE_SCAN;
    if (first >= count) return;
    uint runA = scratch[scanSums(T) + c], runB = baseB + scratch[scanSums(T) + scanStride(T) + c];
    for (uint e = first; e < min(count, first + TREE_SCAN); ++e) {
        uint valueA = scratch[a + e];
        scratch[a + e] = runA;
        runA += valueA;
        if (b != 0u) {
            uint valueB = scratch[b + e];
            scratch[b + e] = runB;
            runB += valueB;
        }
    }
}

// ---- Leaves ----

// Leaf 1 + k over the primitive starting at triangle t, its box from "bvh_leaves.glsl", and the
// first round's k-th cluster.
void writeLeaf(uint T, uint k, uint t) {
    uint at = treeBoxes(T) + 6u * t;
    ivec3 lo = ivec3(scratch[at], scratch[at + 1u], scratch[at + 2u]);
    ivec3 hi = ivec3(scratch[at + 3u], scratch[at + 4u], scratch[at + 5u]);
    int link = bivhLeafLink(int(t), scratch[TREE_ROLES + t] == TREE_HEAD ? 2 : 1);
    nodeItems[1u + k] = BIVH(ivec4(lo, link), ivec4(hi, 0));
    scratch[treeKeys(T, SORT_DIGITS & 1u) + k] = 1u + k;
}

// ---- Sort ----
// A stable radix sort of the primitives' keys (and their triangles) in DIGIT_BITS digits, lowest
// first; each digit: counts per block of SORT_BLOCK keys, their exclusive prefix sums in (digit,
// block) order, and the scatter of each block's keys in order. The first digit leaves the tails
// (TREE_NO_KEY) out, so its sums count the primitives and later digits sort only those; the last
// digit's scatter writes each primitive's leaf, leaf 1 + k for the k-th in key order, which is the
// k-th cluster of the first round. No pass of this program waits at a barrier: software
// rasterisers run programs that do as coroutines, at a high cost.

uint sortCounts(uint T) {
    return treeBlockKept(T); // [DIGITS (T / SORT_BLOCK + 1)], free until the clustering rounds
}

uint sortBlocks(uint T) {
    return (T + SORT_BLOCK - 1u) / SORT_BLOCK;
}

// The keys a digit sorts: every triangle's at the first, the primitives' after.
uint sortedKeys(uint T, uint digit) {
    return digit == 0u ? T : scratch[TREE_PRIMITIVES];
}

void countDigits(uint T, uint digit, uint b) {
    uint blocks = sortBlocks(T);
    if (b >= blocks) return;
    uint shift = digit * DIGIT_BITS, keys = treeKeys(T, digit & 1u), counts = sortCounts(T) + b;
    for (uint d = 0u; d < DIGITS; ++d) scratch[counts + d * blocks] = 0u;
    for (uint i = b * SORT_BLOCK; i < min(sortedKeys(T, digit), (b + 1u) * SORT_BLOCK); ++i) {
        uint key = scratch[keys + i];
        if (key != TREE_NO_KEY) scratch[counts + ((key >> shift) & (DIGITS - 1u)) * blocks] += 1u;
    }
}

uint sortEntries(uint T) {
    return DIGITS * sortBlocks(T);
}

// After the chunk sums of the first digit: their total is the number of primitives.
void countPrimitives(uint T, uint digit) {
    uvec2 total = scanChunkSums(T, sortEntries(T));
    if (digit == 0u) scratch[TREE_PRIMITIVES] = total.x;
}

// `last`: the last digit, which writes the leaves (its own pass, so that the others do not run its
// code under masks).
void scatterDigits(uint T, uint digit, uint b, bool last) {
    uint blocks = sortBlocks(T);
    if (b >= blocks) return;
    uint shift = digit * DIGIT_BITS, from = digit & 1u, to = from ^ 1u, at = sortCounts(T) + b;
    for (uint i = b * SORT_BLOCK; i < min(sortedKeys(T, digit), (b + 1u) * SORT_BLOCK); ++i) {
        uint key = scratch[treeKeys(T, from) + i];
        if (key == TREE_NO_KEY) continue;
        uint slot = at + ((key >> shift) & (DIGITS - 1u)) * blocks;
        uint place = scratch[slot];
        scratch[slot] = place + 1u;
        uint t = scratch[treeValues(T, from) + i];
        if (last) {
            writeLeaf(T, place, t);
        } else {
            scratch[treeKeys(T, to) + place] = key;
            scratch[treeValues(T, to) + place] = t;
        }
    }
}

// The first clustering round: every leaf a cluster, in key order.
void startRounds(uint T) {
    uint leaves = scratch[TREE_PRIMITIVES];
    scratch[TREE_CLUSTERS] = leaves;
    scratch[TREE_NEXT_NODE] = leaves + 1u;
    scratch[TREE_LAST_MERGES] = 1u;
    writeRoundDispatches(0u, leaves);
    if (leaves <= 1u) finishRounds(T, leaves);
}

// ---- Clustering rounds ----

// This round's cluster list and the next one's, by the round's parity. The first list starts as
// the leaves in key order, where the sort's last digit wrote them.
uint roundList(uint roundNumber) {
    return treeKeys(uint(arg0.x), (roundNumber + SORT_DIGITS) & 1u);
}

void nodeBox(uint n, out vec3 lo, out vec3 hi) {
    lo = intBitsToFloat(nodeItems[n].mi.xyz);
    hi = intBitsToFloat(nodeItems[n].ma.xyz);
}

float halfArea(vec3 lo, vec3 hi) {
    vec3 e = max(hi - lo, vec3(0.0));
    return e.x * e.y + e.y * e.z + e.z * e.x;
}

// Invocation g searches for clusters g NEAR_GROUP .. g NEAR_GROUP + NEAR_GROUP - 1: it loads the
// boxes of their neighbourhood once (on software rasterisers the buffer loads cost more than the
// surface areas), and each cluster still takes the first of its neighbours in order whose joint
// box has the least surface.
#define NEAR_WINDOW (NEAR_GROUP + 2 * SEARCH_RADIUS_WIDE)

void findNearest(uint T, uint r, uint g) {
    uint n = scratch[TREE_CLUSTERS + (r & 1u)];
    int first = int(g) * NEAR_GROUP;
    if (first >= int(n)) return;
    int last = min(first + NEAR_GROUP, int(n)) - 1;
    uint choices = treeValues(T, 1u);
    if (arg0.w != 0 || scratch[TREE_LAST_MERGES] == 0u) {
        // Fixed pairs: every round halves the clusters.
        for (int i = first; i <= last; ++i) scratch[choices + uint(i)] = (uint(i) ^ 1u) < n ? uint(i) ^ 1u : ~0u;
        return;
    }
    uint from = roundList(r);
    int radius = n < SEARCH_WIDE_BELOW ? SEARCH_RADIUS_WIDE : SEARCH_RADIUS_NARROW;
    int low = max(first - radius, 0), high = min(last + radius, int(n) - 1);
    vec3 los[NEAR_WINDOW], his[NEAR_WINDOW];
    for (int j = low; j <= high; ++j) nodeBox(scratch[from + uint(j)], los[j - low], his[j - low]);
    for (int i = first; i <= last; ++i) {
        vec3 lo = los[i - low], hi = his[i - low];
        int best = -1;
        float bestCost = 0.0;
        for (int j = max(i - radius, 0); j <= min(i + radius, int(n) - 1); ++j) {
            if (j == i) continue;
            float cost = halfArea(min(lo, los[j - low]), max(hi, his[j - low]));
            if (best < 0 || cost < bestCost) {
                best = j;
                bestCost = cost;
            }
        }
        scratch[choices + uint(i)] = uint(best);
    }
}

// Clusters i and j = the one i chose chose each other: the lower carries the merged node on.
bool mutualChoice(uint T, uint n, uint i, out uint j) {
    j = scratch[treeValues(T, 1u) + i];
    return j < n && scratch[treeValues(T, 1u) + j] == i;
}

void countBlock(uint T, uint r, uint b) {
    uint n = scratch[TREE_CLUSTERS + (r & 1u)];
    uint first = b * TREE_BLOCK;
    if (first >= n) return;
    uint kept = 0u, merges = 0u;
    for (uint i = first; i < min(n, first + TREE_BLOCK); ++i) {
        uint j;
        bool mutual = mutualChoice(T, n, i, j);
        kept += mutual && j < i ? 0u : 1u;
        merges += mutual && i < j ? 1u : 0u;
    }
    scratch[treeBlockKept(T) + b] = kept;
    scratch[treeBlockMerges(T) + b] = merges;
}

uint roundBlocks(uint n) {
    return n > 1u ? (n + TREE_BLOCK - 1u) / TREE_BLOCK : 0u;
}

// One invocation, after the blocks' chunk sums: the next round's size, merges and dispatches.
// The blocks' own sums follow (applyChunk), their new nodes counted from this round's first.
// The record of round r (kTreeRoundRecordWords in "render/gpu_layout.h"): the dispatch of one
// invocation per node it made, the first of them and their count.
uint roundRecord(uint T, uint r) {
    return scanSums(T) + 2u * scanStride(T) + 5u * r;
}

void closeRound(uint T, uint r) {
    uint n = scratch[TREE_CLUSTERS + (r & 1u)];
    uint blocks = roundBlocks(n);
    uvec2 totals = scanChunkSums(T, blocks);
    uint next = scratch[TREE_NEXT_NODE];
    uint record = roundRecord(T, r);
    writeDispatch(record, blocks > 0u ? totals.y : 0u);
    scratch[record + 3u] = next;
    scratch[record + 4u] = blocks > 0u ? totals.y : 0u;
    uint nextClusters = blocks > 0u ? totals.x : n;
    scratch[TREE_ROUND_FIRST_NODE] = next;
    scratch[TREE_CLUSTERS + ((r + 1u) & 1u)] = nextClusters;
    scratch[TREE_LAST_MERGES] = blocks > 0u ? totals.y : 1u;
    scratch[TREE_NEXT_NODE] = next + totals.y;
    writeRoundDispatches((r + 1u) & 1u, nextClusters);
    if (nextClusters <= 1u) writeHead(T);
}

// Node `node` over clusters i and j (i < j) of round r's list.
void makeNode(uint T, uint r, uint node, uint i, uint j) {
    uint from = roundList(r);
    uint cluster = scratch[from + i], other = scratch[from + j];
    vec3 lo, hi, lo2, hi2;
    nodeBox(cluster, lo, hi);
    nodeBox(other, lo2, hi2);
    // The larger child first: a shadow ray is likelier to meet an occluder there.
    bool swap = halfArea(lo2, hi2) > halfArea(lo, hi);
    uint firstChild = swap ? other : cluster, secondChild = swap ? cluster : other;
    scratch[treeLeft(T) + node] = firstChild;
    scratch[treeRight(T) + node] = secondChild;
    scratch[treeParent(T) + cluster] = node;
    scratch[treeParent(T) + other] = node;
    // The links known now: the first child, and that the walk goes on from it to the second; the
    // second's skip link is its parent's, written top down once all are made.
    nodeItems[node] = BIVH(ivec4(floatBitsToInt(min(lo, lo2)), int(firstChild)),
                           ivec4(floatBitsToInt(max(hi, hi2)), 0));
    nodeItems[firstChild].ma.w = int(secondChild);
}

// The merges' first clusters, by node made in the round, for pass 18: the sort's first value
// array is free once the leaves are written.
uint roundMerges(uint T) {
    return treeValues(T, 0u);
}

// Block b's part of the next round's list in order. `make`: the block makes its nodes itself
// (small trees' pass 13); otherwise it notes each merge for pass 18, one invocation per node, so
// that the node's work runs only for merges and not under masks for every cluster.
void mergeBlock(uint T, uint r, uint b, bool make) {
    uint n = scratch[TREE_CLUSTERS + (r & 1u)];
    uint first = b * TREE_BLOCK;
    if (first >= n) return;
    uint from = roundList(r), to = roundList(r + 1u);
    uint at = scratch[treeBlockKept(T) + b], node = scratch[treeBlockMerges(T) + b];
    uint firstNode = scratch[TREE_ROUND_FIRST_NODE];
    for (uint i = first; i < min(n, first + TREE_BLOCK); ++i) {
        uint j;
        bool mutual = mutualChoice(T, n, i, j);
        if (mutual && j < i) continue;
        uint cluster = scratch[from + i];
        if (mutual) {
            if (make)
                makeNode(T, r, node, i, j);
            else
                scratch[roundMerges(T) + node - firstNode] = i;
            cluster = node++;
        }
        scratch[to + at++] = cluster;
    }
}

// Pass 18: the k-th node that round r made.
void mergeNode(uint T, uint r, uint k) {
    uint record = roundRecord(T, r);
    if (k >= scratch[record + 4u]) return;
    uint i = scratch[roundMerges(T) + k];
    makeNode(T, r, scratch[record + 3u] + k, i, scratch[treeValues(T, 1u) + i]);
}

// ---- Small trees ----
// For at most kTreeSmall triangles one invocation does a round's or a digit's serial passes, each
// of its loops well short of 65535 turns.

uint chunksOf(uint count) {
    return (count + TREE_SCAN - 1u) / TREE_SCAN;
}

void wholeRound(uint T, uint r) {
    uint n = scratch[TREE_CLUSTERS + (r & 1u)];
    uint blocks = roundBlocks(n);
    for (uint b = 0u; b < blocks; ++b) countBlock(T, r, b);
    for (uint c = 0u; c < chunksOf(blocks); ++c) sumChunk(T, treeBlockKept(T), treeBlockMerges(T), blocks, c);
    closeRound(T, r);
    uint firstNode = scratch[TREE_ROUND_FIRST_NODE];
    for (uint c = 0u; c < chunksOf(blocks); ++c)
        applyChunk(T, treeBlockKept(T), treeBlockMerges(T), blocks, c, firstNode);
    for (uint b = 0u; b < blocks; ++b) mergeBlock(T, r, b, true);
    uint left = scratch[TREE_CLUSTERS + ((r + 1u) & 1u)];
    if (left <= 1u) finishRounds(T, left);
}

void wholeDigitSums(uint T, uint digit) {
    uint entries = sortEntries(T);
    for (uint c = 0u; c < chunksOf(entries); ++c) sumChunk(T, sortCounts(T), 0u, entries, c);
    countPrimitives(T, digit);
    for (uint c = 0u; c < chunksOf(entries); ++c) applyChunk(T, sortCounts(T), 0u, entries, c, 0u);
}

void wholeSort(uint T) {
    for (uint digit = 0u; digit < SORT_DIGITS; ++digit) {
        for (uint b = 0u; b < sortBlocks(T); ++b) countDigits(T, digit, b);
        wholeDigitSums(T, digit);
        for (uint b = 0u; b < sortBlocks(T); ++b) scatterDigits(T, digit, b, digit == SORT_DIGITS - 1u);
    }
}

// ---- Links ----

void link(uint T, uint n) {
    uint nodes = uint(nodeItems[0].ma.w);
    if (n == 0u || n > nodes) return;
    uint root = uint(nodeItems[0].mi.w);
    uint left = treeLeft(T), right = treeRight(T), parent = treeParent(T);
    if (n > scratch[TREE_PRIMITIVES]) nodeItems[n].mi.w = int(scratch[left + n]);
    // Once this subtree is done: the second child of the nearest ancestor whose first child
    // holds it.
    uint skip = 0u;
    for (uint at = n, steps = 0u; at != root && steps < nodes; ++steps) {
        uint up = scratch[parent + at];
        if (scratch[left + up] == at) {
            skip = scratch[right + up];
            break;
        }
        at = up;
    }
    nodeItems[n].ma.w = int(skip);
}

// The merges wrote each node's first child and its first child's skip link; the second child's
// skip link is the node's own. The root's is 0 as its merge wrote it; every other node's was
// written by its merge or by its parent's invocation in a later round's dispatch.
void linkRound(uint T, uint r, uint i) {
    uint record = roundRecord(T, r);
    if (i >= scratch[record + 4u]) return;
    uint n = scratch[record + 3u] + i;
    nodeItems[scratch[treeRight(T) + n]].ma.w = nodeItems[n].ma.w;
}

void main() {
    uint T = uint(arg0.x), r = uint(arg0.y);
    bool firstGroup = TREE_INVOCATION == 0u;
    uint n = scratch[TREE_CLUSTERS + (r & 1u)];
    switch (TREE_PASS) {
    case 0:
        if (firstGroup) startRounds(T);
        break;
    case 1:
        findNearest(T, r, TREE_INVOCATION);
        break;
    case 2:
        countBlock(T, r, TREE_INVOCATION);
        break;
    case 3:
        if (TREE_INVOCATION == 0u) closeRound(T, r);
        break;
    case 4:
        mergeBlock(T, r, TREE_INVOCATION, false);
        break;
    case 18:
        mergeNode(T, r, TREE_INVOCATION);
        break;
    case 5:
        link(T, TREE_INVOCATION);
        break;
    case 6:
        countDigits(T, r, TREE_INVOCATION);
        break;
    case 7:
        if (TREE_INVOCATION == 0u) countPrimitives(T, r);
        break;
    case 8:
        scatterDigits(T, r, TREE_INVOCATION, false);
        break;
    case 17:
        scatterDigits(T, r, TREE_INVOCATION, true);
        break;
    case 9:
        sumChunk(T, sortCounts(T), 0u, sortEntries(T), TREE_INVOCATION);
        break;
    case 10:
        applyChunk(T, sortCounts(T), 0u, sortEntries(T), TREE_INVOCATION, 0u);
        break;
    case 13:
        if (TREE_INVOCATION == 0u) wholeRound(T, r);
        break;
    case 14:
        if (TREE_INVOCATION == 0u) wholeDigitSums(T, r);
        break;
    case 16:
        if (TREE_INVOCATION == 0u) wholeSort(T);
        break;
    case 15:
        linkRound(T, r, TREE_INVOCATION);
        break;
    case 11:
        sumChunk(T, treeBlockKept(T), treeBlockMerges(T), roundBlocks(n), TREE_INVOCATION);
        break;
    default:
        applyChunk(T, treeBlockKept(T), treeBlockMerges(T), roundBlocks(n), TREE_INVOCATION,
                   scratch[TREE_ROUND_FIRST_NODE]);
        break;
    }
}
#endif
