#include "ExportPagePrinter.h"

#include "LumenoLogging.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace {

// CSS pixels per point.
constexpr double kPixelsPerPoint = 96.0 / 72.0;

} // namespace

QString ExportPagePrinter::frameSizingScript() {
    // Innermost documents first, so that an outer frame sees its inner frames' full height.
    return QStringLiteral(R"JS((function(){
var sized=0;
function size(doc,depth){
  if(!doc||depth>16)return;
  var frames=doc.querySelectorAll('iframe');
  for(var i=0;i<frames.length;i++){
    var f=frames[i],inner=null;
    try{inner=f.contentDocument;}catch(e){inner=null;}
    if(!inner||!inner.documentElement)continue;
    size(inner,depth+1);
    var h=Math.max(inner.documentElement.scrollHeight,inner.body?inner.body.scrollHeight:0);
    f.style.height=h+'px';f.setAttribute('scrolling','no');sized++;
  }
}
size(document,0);
return sized;})())JS");
}

QString ExportPagePrinter::domWalkScript() {
    // Text of every leaf node in document order, and the first "name" or "id" of each element
    // where it stands. Text that is never printed (scripts, styles, hidden elements, and what
    // the page's own print style sheet hides: the walk runs with the screen's styles) is left
    // out, so that the printed words follow the collected text.
    return QStringLiteral(R"JS((function(){
var out=[];var body=document.body;if(!body)return out;
var silent={SCRIPT:1,STYLE:1,NOSCRIPT:1,TEMPLATE:1,TITLE:1};
var printHidden=new Set();
function forPrint(media){var m=media?String(media.mediaText||'').toLowerCase():'';return m.indexOf('print')>=0;}
function printRules(rules,inPrint,depth){
  if(!rules||depth>8)return;
  for(var i=0;i<rules.length;i++){var r=rules[i];
    try{
      if(r.type===4)printRules(r.cssRules,inPrint||forPrint(r.media),depth+1);
      else if(r.type===3)printRules(r.styleSheet&&r.styleSheet.cssRules,inPrint||forPrint(r.media),depth+1);
      else if(r.type===1&&inPrint&&r.style.display==='none'){
        var hit=document.querySelectorAll(r.selectorText);
        for(var h=0;h<hit.length;h++)printHidden.add(hit[h]);
      }
    }catch(e){}
  }
}
for(var si=0;si<document.styleSheets.length;si++){
  var sheet=document.styleSheets[si];
  try{printRules(sheet.cssRules,forPrint(sheet.media),0);}catch(e){}
}
var stack=[body];
while(stack.length){
  var node=stack.pop();
  var t=node.nodeType;
  var quiet=false;
  if(t===1){
    var attrs=node.attributes;
    for(var i=0;i<attrs.length;i++){
      var n=attrs[i].name.toLowerCase();
      if(n==='name'||n==='id'){out.push([attrs[i].value]);break;}
    }
    if(silent[node.nodeName.toUpperCase()]||printHidden.has(node))quiet=true;
    else{var cs=window.getComputedStyle(node);if(cs&&cs.display==='none')quiet=true;}
  }
  if(!node.firstChild){
    if(t===3){var s=node.textContent;if(s)out.push(s);}
    continue;
  }
  if(quiet){
    var all=node.querySelectorAll?node.querySelectorAll('[name],[id]'):[];
    for(var j=0;j<all.length;j++){
      var a=all[j].attributes;
      for(var k=0;k<a.length;k++){var m=a[k].name.toLowerCase();
        if(m==='name'||m==='id'){out.push([a[k].value]);break;}}
    }
    continue;
  }
  for(var c=node.lastChild;c;c=c.previousSibling)stack.push(c);
}
return out;})())JS");
}

ExportPagePrinter::ExportPagePrinter(QWebEngineProfile* profile, const ExportPageSettings& settings,
                                     QObject* parent)
    : QObject(parent), m_profile(profile), m_settings(settings) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        qCWarning(lcExport) << "page" << logSafe(m_url.toString()) << "gave no answer while"
                            << m_step;
        Result result;
        result.failure = tr("The page did not finish %1 within %2 seconds.")
                             .arg(m_step)
                             .arg(m_timeLimitMs / 1000);
        finish(result);
    });
}

ExportPagePrinter::~ExportPagePrinter() {
    releaseView();
}

void ExportPagePrinter::releaseView() {
    m_timer.stop();
    ++m_generation;
    m_loading = false;
    // The page first: it must go before the profile, and with it its renderer.
    if (m_view) {
        QWebEnginePage* page = m_view->page();
        delete m_view;
        delete page;
        m_view = nullptr;
    }
}

void ExportPagePrinter::abort() {
    releaseView();
    m_done = nullptr;
}

void ExportPagePrinter::armTimer(const char* step) {
    m_step = tr(step);
    m_timer.start(m_timeLimitMs);
}

void ExportPagePrinter::print(const QUrl& url, Callback done) {
    m_timer.stop();
    ++m_generation;
    m_done = std::move(done);
    m_result = Result();
    m_url = url;
    // One view serves page after page (a new one would start a new renderer each time); after
    // a page that failed or hung it is replaced, and with it its renderer.
    if (!m_view) {
        m_view = new QWebEngineView();
        m_view->setAttribute(Qt::WA_DontShowOnScreen);
        auto* page = new QWebEnginePage(m_profile, nullptr);
        m_view->setPage(page);
        connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
            if (m_loading) {
                m_loading = false;
                onLoadFinished(ok);
            }
        });
        m_view->show();
    }
    // Back to one printable page high: the last page may have grown it.
    m_view->resize(qRound(m_settings.printableWidth() * kPixelsPerPoint),
                   qRound(m_settings.printableHeight() * kPixelsPerPoint));
    armTimer(QT_TR_NOOP("loading"));
    m_loading = true;
    m_view->page()->load(url);
}

void ExportPagePrinter::onLoadFinished(bool ok) {
    if (!m_view)
        return;
    const QUrl url = m_view->page()->url();
    // A load that failed prints what the view shows; a page that went somewhere else than the
    // book (which the interceptor stops anyway) prints nothing.
    if (url.scheme() != QLatin1String("itss")) {
        Result result;
        result.failure = tr("The page left the book.");
        finish(result);
        return;
    }
    if (!ok)
        qCWarning(lcExport) << "page" << logSafe(url.toString()) << "loaded with errors";
    sizeFrames();
}

void ExportPagePrinter::sizeFrames() {
    const quint64 generation = m_generation;
    armTimer(QT_TR_NOOP("laying out its frames"));
    m_view->page()->runJavaScript(frameSizingScript(), QWebEngineScript::ApplicationWorld,
                                  [this, generation](const QVariant&) {
                                      if (generation == m_generation)
                                          printPage();
                                  });
}

void ExportPagePrinter::printPage() {
    const quint64 generation = m_generation;
    armTimer(QT_TR_NOOP("printing"));
    const QPageLayout layout(QPageSize(QSizeF(m_settings.paperWidth, m_settings.paperHeight),
                                       QPageSize::Point, QString(), QPageSize::ExactMatch),
                             m_settings.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                             QMarginsF(m_settings.leftMargin, m_settings.topMargin,
                                       m_settings.rightMargin, m_settings.bottomMargin),
                             QPageLayout::Point);
    m_view->page()->printToPdf(
        [this, generation](const QByteArray& pdf) {
            if (generation != m_generation)
                return;
            m_result.pdf = pdf;
            if (pdf.isEmpty()) {
                Result result;
                result.failure = tr("The page could not be printed.");
                finish(result);
                return;
            }
            walkDom();
        },
        layout);
}

void ExportPagePrinter::walkDom() {
    const quint64 generation = m_generation;
    armTimer(QT_TR_NOOP("reading its text"));
    m_view->page()->runJavaScript(domWalkScript(), QWebEngineScript::ApplicationWorld,
                                  [this, generation](const QVariant& walk) {
                                      if (generation != m_generation)
                                          return;
                                      Result result = m_result;
                                      result.walk = walk;
                                      result.url = m_view->page()->url();
                                      result.printed = true;
                                      finish(result);
                                  });
}

void ExportPagePrinter::finish(Result result) {
    // Out of the engine's callback before the page that called it is deleted.
    ++m_generation;
    m_timer.stop();
    m_loading = false;
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result), generation = m_generation]() {
            if (generation != m_generation)
                return;
            if (!result.printed)
                releaseView();
            Callback done = std::move(m_done);
            m_done = nullptr;
            if (done)
                done(result);
        },
        Qt::QueuedConnection);
}
