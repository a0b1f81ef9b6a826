/* The peer of the Open XML write benchmark: libxlsxwriter (Debian's libxlsxwriter-dev) writing the
 * same cells, rows x 8 distinct texts "r<row>c<col>", into a shared string table as ours does. */
#include <stdio.h>
#include <xlsxwriter.h>

#include "bench/xlsxwriter_peer.h"

int PeerWriteXlsx(const char* path, int rows) {
    lxw_workbook* workbook = workbook_new(path);
    if (!workbook) return -1;
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, NULL);
    char text[32];
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 8; ++col) {
            snprintf(text, sizeof text, "r%dc%d", row, col);
            if (worksheet_write_string(worksheet, (lxw_row_t)row, (lxw_col_t)col, text, NULL) != LXW_NO_ERROR) {
                workbook_close(workbook);
                return -1;
            }
        }
    }
    return workbook_close(workbook) == LXW_NO_ERROR ? 0 : -1;
}
