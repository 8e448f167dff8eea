// Each build of the colour plug-in puts its classes in a namespace named
// with the build's suffix, so two builds loaded into one process never
// share a symbol. The build defines R2740_COLOR_MONO (1 or 0).
#pragma once

#if R2740_COLOR_MONO
#define R2740_COLOR_NS r2740_EE5EB6D0_15F1_4191_AAD2_4D79EA147313
#define R2740_MODEL_KEY "R2740Mono"
#define R2740_PANEL_KIND "jp.orvessa.pde.R2740Mono.qvco"
#else
#define R2740_COLOR_NS r2740_C9225531_64CE_403B_96B8_BB2E4E8F2F56
#define R2740_MODEL_KEY "R2740"
#define R2740_PANEL_KIND "jp.orvessa.pde.R2740.qvco"
#endif
