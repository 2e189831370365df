// evaluate.cpp - formulas computed against a workbook (placeholder until the evaluator lands).
