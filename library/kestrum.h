/*
 * Kestrum estimation library: the capture-history likelihood of free-roaming dogs counted three times
 * in one city block, the objective a minimiser drives, and the entry point that fits P (proportion
 * seen on a count) and S (proportion staying in the block between counts).
 *
 * Every argument is passed by pointer (by reference); arrays point at their element 1. The caller owns
 * every array; the library keeps no state and no reference between calls, so calls on different
 * records may run on different threads at once.
 *
 * Parameter index: 1 is S, 2 is P. Capture-history order: 1,0,0 / 1,1,1 / 1,0,1 / 1,1,0.
 */
#ifndef KESTRUM_H
#define KESTRUM_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(KESTRUM_BUILDING_LIBRARY)
#    define KESTRUM_API __declspec(dllexport)
#  else
#    define KESTRUM_API __declspec(dllimport)
#  endif
#elif defined(KESTRUM_BUILDING_LIBRARY)
#  define KESTRUM_API __attribute__((visibility("default")))
#else
#  define KESTRUM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes of the caller's arrays. */
enum {
    KESTRUM_IUSER_SIZE = 1000, /* IUSER: integer half of the model record */
    KESTRUM_USER_SIZE = 1000,  /* USER: real half of the model record */
    KESTRUM_MAX_FREE = 12,     /* room in XC, BL and BU */
    KESTRUM_LIW = 20,          /* integer workspace the program hands over */
    KESTRUM_LW = 500           /* real workspace the program hands over */
};

/* Model record layout, 1-based slot numbers.
 * IUSER(1) = free count when built (never read by the library); IUSER(2 .. N+1) = free list;
 * IUSER(10 .. 13) = the four frequencies. USER holds four slots per parameter j, starting at
 * 4j-3: value, scale factor, lower bound, upper bound (the bounds are not read by the library). */
enum {
    KESTRUM_IUSER_NFREE = 1,
    KESTRUM_IUSER_IFREE = 2,
    KESTRUM_IUSER_HIST = 10,
    KESTRUM_USER_SLOTS_PER_PARAMETER = 4,
    KESTRUM_USER_VALUE = 0, /* offsets within a parameter's four slots */
    KESTRUM_USER_FACTOR = 1,
    KESTRUM_USER_LOWER = 2,
    KESTRUM_USER_UPPER = 3,
    KESTRUM_PARAM_S = 1,
    KESTRUM_PARAM_P = 2,
    KESTRUM_USER_S = 1, /* USER slot of S's value */
    KESTRUM_USER_P = 5  /* USER slot of P's value */
};

/* IFAIL on return from N_E04JYF with N != 0 (with N == 0 IFAIL is left as the caller set it). */
enum {
    KESTRUM_IFAIL_CONVERGED = 0,         /* the search met its tolerance */
    KESTRUM_IFAIL_BAD_ARGUMENTS = 1,     /* N < 0 or N > 12, IBOUND != 0, a bound not finite or
                                            BL(i) > BU(i); nothing was evaluated, XC untouched,
                                            F NaN */
    KESTRUM_IFAIL_EVALUATION_LIMIT = 2,  /* 400 evaluations per free parameter used up; XC holds
                                            the best point found */
    KESTRUM_IFAIL_NONFINITE_OBJECTIVE = 3, /* the objective returned NaN or an infinity; XC holds
                                              the best finite point (or the start), F its value */
    KESTRUM_IFAIL_MINIMISER_FAILURE = 4  /* any other failure of the search (out of memory);
                                            XC holds the best point found, or is untouched and
                                            F NaN if the search could not start */
};

/* Log likelihood kernel sum HIST(i) * ln PHIST(i) of the four frequencies at P and S (note: P
 * before S). A zero frequency adds nothing even where its probability is 0; a positive frequency
 * with probability 0 gives -infinity; a negative probability gives NaN.
 * in: HIST[4], P, S. */
KESTRUM_API double RLOGLIK(const int32_t *HIST, const double *P, const double *S);

/* Objective: FC = -RLOGLIK at the record's parameters, the N free ones taken from XC / factor.
 * Writes FC only. A record outside the model (N outside 0..11, a free-list entry other than 1 or 2,
 * a zero scale factor for a free parameter) gives a quiet NaN.
 * in: N, XC[N], IUSER[1000], USER[1000]; out: FC. */
KESTRUM_API void FUNCT1(const int32_t *N, const double *XC, double *FC, const int32_t *IUSER,
                        const double *USER);

/* Fit. N == 0: evaluate FUNCT1 once at the record's values into F and write nothing else.
 * Otherwise minimise FUNCT1 over the N free parameters within BL .. BU (IBOUND must be 0), starting
 * from XC (a start outside the bounds is first moved onto the nearest bound, a NaN start to the
 * middle); on return XC is the point found (always within the bounds), F the objective there, IFAIL
 * one of KESTRUM_IFAIL_*. BL and BU are only read; IW and W are not touched.
 * in: N, IBOUND, BL[N], BU[N], LIW, LW, IUSER, USER; in/out: XC[N], IFAIL;
 * out: F; workspace: IW[LIW], W[LW]. */
KESTRUM_API void N_E04JYF(const int32_t *N, const int32_t *IBOUND, const double *BL,
                          const double *BU, double *XC, double *F, int32_t *IW, const int32_t *LIW,
                          double *W, const int32_t *LW, const int32_t *IUSER, const double *USER,
                          int32_t *IFAIL);

/* The entry point's type, for callers that bind it by name at run time. */
typedef void (*KestrumN_E04JYF)(const int32_t *N, const int32_t *IBOUND, const double *BL,
                                const double *BU, double *XC, double *F, int32_t *IW,
                                const int32_t *LIW, double *W, const int32_t *LW,
                                const int32_t *IUSER, const double *USER, int32_t *IFAIL);

#ifdef __cplusplus
}
#endif

#endif /* KESTRUM_H */
