#pragma once

// The Free Download family's built-in profile with its steps against the same profile as it
// was with one button and one link, on the same pages (parse, rules, press, link): figures
// per page and a `target` line.
void measureSteps();
