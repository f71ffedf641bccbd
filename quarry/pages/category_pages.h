// The page of a category, by the style its row in the category table names.
#pragma once

#include "quarry/views/category_table.h"

namespace quarry {

class CFunctionDlg;

// `model` may be null (a category without items); it is not owned and must outlive the page.
CFunctionDlg* MakeCategoryPage(const views::CategoryRow& row, views::CategoryModel* model);

}  // namespace quarry
