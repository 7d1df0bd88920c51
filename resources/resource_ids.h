/* Resource identifiers shared by zorblinth.rc and the program. */
#pragma once

/* The program's icon: the file's first icon and the saver window's class icon. */
#define IDI_ZORBLINTH 1

/* String table: the product name. */
#define IDS_PRODUCT_NAME 1
