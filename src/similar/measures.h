#pragma once
// The two similarity measures.  Both are pure functions of their arguments,
// allocate nothing, and return a six-byte value (0 for a rejection) in
// working precision.  See measures.cpp for how they count.

#include <cstdint>
#include <string_view>

#include "similar/real48.h"

namespace toka {

/// The length-dependent measure ("Similar"): only equal strings score 1;
/// every extra letter costs.  Lengths come from the strings (at most 255
/// code points each).  holdsUpTo, when given, gets the highest cut-off
/// that gives the same score: the early exits compare with the cut-off, so
/// against a higher one the candidate scores 0.
long double SimilarMeasure(std::u32string_view query, std::u32string_view candidate, Real48 queryWeight,
                           Real48 candidateWeight, Real48 cutOff, long double* holdsUpTo = nullptr);

/// The length-independent measure ("Fuzzy"): any candidate that contains the
/// query (3 letters or more) scores 1.  Only the first queryLen letters of the
/// query and the first candidateLen letters of the candidate take part.
/// holdsUpTo as for SimilarMeasure.
long double FuzzyMeasure(std::u32string_view query, std::u32string_view candidate, std::uint16_t queryLen,
                         Real48 queryWeight, Real48 cutOff, std::uint16_t candidateLen,
                         long double* holdsUpTo = nullptr);

/// The highest score FuzzyMeasure returns (that of a candidate holding the
/// query): its ratios never exceed 1, since no count of common windows
/// exceeds the query's own and the match weight adds up in the order, and
/// with the rounding, of the query's weight.
Real48 FuzzyMeasureMax();

/// The highest score SimilarMeasure returns for a query of a and a candidate
/// of b code points (at most 255 each) with these weights; innerWeight is
/// the weight of the shorter length.  Neither count of common windows can
/// exceed the shorter string's own, and each ratio grows with its count.
/// Infinite when the weights give no bound.
Real48 SimilarMeasureMax(int a, int b, Real48 queryWeight, Real48 candidateWeight, Real48 innerWeight);

/// Literal versions that run the greedy window matching exactly as described
/// (free/taken flags, first free partner searched upward).  Slow; they are the
/// reference that the fast versions are checked and measured against.
long double SimilarMeasureReference(std::u32string_view query, std::u32string_view candidate, Real48 queryWeight,
                                    Real48 candidateWeight, Real48 cutOff);
long double FuzzyMeasureReference(std::u32string_view query, std::u32string_view candidate, std::uint16_t queryLen,
                                  Real48 queryWeight, Real48 cutOff, std::uint16_t candidateLen);

} // namespace toka
