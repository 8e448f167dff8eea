// The namespace of every class and function of the security plug-in's
// build: the build passes its own; this is the one fallback.
#pragma once

#ifndef R2740_SECURITY_NS
#define R2740_SECURITY_NS r2740_CDA242A5_7B06_4DA5_8B2C_DA63934B0E94
#endif
