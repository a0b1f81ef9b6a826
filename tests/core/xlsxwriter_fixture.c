/* Makes the libxlsxwriter workbook the live log's round-trip test extends: formulas with and
 * without a stored result (libxlsxwriter stores 0 for the latter and asks for a full calculation
 * on load), an array formula, dates, a hidden sheet and texts with blanks at both ends.
 * Usage: xlsxwriter_fixture FILE.xlsx; exit status 0 when the file was written. */
#include <stdio.h>
#include <xlsxwriter.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.xlsx\n", argv[0]);
        return 2;
    }
    lxw_workbook* book = workbook_new(argv[1]);
    if (!book) return 1;
    lxw_worksheet* log = workbook_add_worksheet(book, "Журнал");
    lxw_worksheet* helper = workbook_add_worksheet(book, "Helper");
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "dd.mm.yyyy hh:mm:ss");

    worksheet_write_string(log, 0, 0, "Наименование", NULL);
    worksheet_write_string(log, 0, 1, "Значение", NULL);
    worksheet_write_string(log, 1, 0, "  два пробела  ", NULL);
    worksheet_write_number(log, 1, 1, 0.30000000000000004, NULL);
    lxw_datetime when = {2024, 2, 29, 13, 45, 30.5};
    worksheet_write_datetime(log, 2, 0, &when, date);
    worksheet_write_number(log, 2, 1, 123456789.12345678, NULL);
    worksheet_write_formula(log, 1, 2, "=B2*2", NULL);
    worksheet_write_formula_num(log, 2, 2, "=B3+1", NULL, 123456790.12345678);
    worksheet_write_formula_str(log, 1, 3, "=A2&\"!\"", NULL, "  два пробела  !");
    worksheet_write_array_formula(log, 2, 3, 2, 3, "{=SUM(B2:B3*2)}", NULL);

    worksheet_write_string(helper, 0, 0, " hidden helper ", NULL);
    worksheet_write_formula(helper, 0, 1, "='Журнал'!B2*10", NULL);
    worksheet_hide(helper);
    return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}
