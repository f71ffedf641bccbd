// Plain text of the small HTML documents the older notes store keeps as note bodies.
#pragma once

#include <string>
#include <string_view>

namespace sieve {

// Tags are dropped; <br>, <hr> and the ends of block elements (div, p, li, tr, h1..h6) become
// line breaks, and so do line breaks written in the source. Character references are decoded
// only when they end with ";" (&amp; &lt; &gt; &quot; &apos; &nbsp; and &#NNN; / &#xHH;);
// anything else that looks like one stays as written. Text after the last tag is kept, and a
// "<" that does not open a tag is text. The contents of <script> and <style> are dropped.
// Line breaks and spaces at either end are trimmed.
std::string HtmlToText(std::string_view html);

}  // namespace sieve
