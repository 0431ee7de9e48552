#pragma once
// Colour management: the plug-in's colour profiles, profile gammas and tone
// curves, on top of Little CMS 2.
//
// Profiles. InitializeColorManagement (once per Start selector, on the UI
// thread, before the host image is read) opens four fixed profiles:
//   standard        sRGB;
//   image           the host document's profile; without a usable one the
//                   built-in grayscale profile for the grayscale modes
//                   (1, 10, 17) and a separate sRGB profile otherwise;
//   working         sRGB primaries with gamma 2.2 curves;
//   linear working  the same primaries with gamma 1.0 curves.
// They belong to this module and stay valid until ReleaseColorManagement,
// which also deletes every cached transform and display profile. Images
// created meanwhile hold these handles without owning them.
//
// All Little CMS objects made here live in one private Little CMS context
// whose error-log hook reports every Little CMS error ("Little CMS returned
// error code %d: '%s'"). The hook is private to the plug-in: a host that uses
// Little CMS itself keeps its own handler.
//
// Errors: every routine reports its own failures through ReportMessage and
// returns false or null; nothing throws.
//
// Threads: Initialize and Release run on the UI thread while no other thread
// uses colour management. The profile accessors, GetProfileGamma, the
// transform cache and the conversions may be used from any thread in
// between (the caches take their own locks).
//
// Profile handles are compared by address in the caches, so a profile handed
// to GetProfileGamma or to a transform must stay open until
// ReleaseColorManagement.
#include <lcms2.h>

#include <cstddef>
#include <cstdint>

#include "image/image.h"

// Opens the profiles as described above. `hostIccData`/`hostIccSize` are the
// bytes of the document's profile as locked by the caller (null and 0 when the
// host offers none; null with a size when the host's handle could not be
// locked). A host profile that Little CMS cannot open, or whose colour space
// does not fit `hostImageMode`, is reported and replaced by the profile used
// for documents without one. Every failure is reported and the remaining
// steps still run; the result is false when a fixed profile is missing, and
// then *status (may be null) receives -50 unless it already holds an error.
// Calling it again first releases the previous state.
bool InitializeColorManagement(const void* hostIccData, size_t hostIccSize, int32_t hostImageMode, int16_t* status);

// Releases transforms, display profiles, the fixed profiles, the stored
// profile bytes and the caches. Safe to call when nothing was initialised.
void ReleaseColorManagement();

// The fixed profiles; null before initialisation or when one failed.
cmsHPROFILE GetStandardProfile();
cmsHPROFILE GetImageProfile();
cmsHPROFILE GetWorkingProfile();
cmsHPROFILE GetLinearWorkingProfile();

// The colour space of a profile (cmsSigGrayData, cmsSigRgbData, ...); 0 for
// a null profile.
cmsColorSpaceSignature GetProfileColorSpace(ColorProfileHandle profile);
bool IsGrayProfile(ColorProfileHandle profile);

// The profile's gamma as Little CMS estimates it from its gray tone curve
// (grayscale profiles) or its green tone curve (others); 2.2 when there is no
// such curve or no gamma fits it. Results are remembered for up to 64
// profiles.
double GetProfileGamma(ColorProfileHandle profile);

// The gamma an Image keeps for a profile: GetProfileGamma rounded to the
// nearest 1/20, or 2.2 when that would not be a positive number.
double GetImageGammaOfProfile(ColorProfileHandle profile);

// A gamma curve from Little CMS (reported and null on failure). The caller
// frees it with cmsFreeToneCurve.
cmsToneCurve* NewToneCurve(double gamma);

// A copy of `base` whose tone curves are gamma curves (the gray curve of a
// grayscale profile, else red, green and blue). The copy's bytes are kept in
// the ProfileBlock table until ReleaseColorManagement; the returned profile
// belongs to the caller, who closes it (cmsCloseProfile) before
// ReleaseColorManagement, as it lives in the plug-in's Little CMS context.
// Null after a reported failure, a curve that could not be written included
// (a copy with the base's curves would pass for the derived profile; the
// failure counts as out of memory for InitializeColorManagement).
cmsHPROFILE DeriveGammaProfile(double gamma, cmsHPROFILE base);

// The Little CMS context of the plug-in's objects (null before
// initialisation, or when it could not be created: then the library's
// default context is used).
cmsContext GetColorContext();

// Capacity of the ProfileBlock table and how many of its blocks are in use.
constexpr int PROFILE_BLOCK_CAPACITY = 64;
constexpr int PROFILE_BLOCK_LIMIT = 63;
int GetProfileBlockCount();
