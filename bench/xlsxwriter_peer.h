#pragma once
/* libxlsxwriter writing rows x 8 distinct text cells to path; 0 on success. */
#ifdef __cplusplus
extern "C" {
#endif
int PeerWriteXlsx(const char* path, int rows);
#ifdef __cplusplus
}
#endif
