// Whether a printed PDF page carries nothing worth keeping: at most 5 characters of text and,
// drawn at half size onto white, not one pixel that is not white.
//
// Shared by the PDF export (which drops the empty pages that printing leaves) and the
// conversion jobs that assemble PDFs. A null page, a page that cannot be rendered, and a page
// whose half-size bitmap would have no pixels are not blank: a page is dropped only when it is
// known to be empty. Reentrant for different documents; Poppler's own rules for one document.
#pragma once

namespace poppler {
class page;
}

bool IsPDFPageBlank(const poppler::page* page);
