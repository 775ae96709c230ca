#include "ExportPageScripts.h"

namespace ExportPageScripts {

QString framesetScript() {
    // A frame made here is marked, and marked again once loaded; its page may be a frameset too.
    return QStringLiteral(R"JS((function(){
var pending=0;
function loaded(f){
  if(f.getAttribute('data-lumeno-frame')==='loaded')return true;
  var d=null;try{d=f.contentDocument;}catch(e){d=null;}
  return !!d&&d.URL!=='about:blank'&&d.readyState==='complete';
}
function flatten(doc,depth){
  if(!doc||!doc.documentElement||depth>8)return;
  var root=doc.documentElement,sets=[],urls=[];
  for(var c=root.firstElementChild;c;c=c.nextElementSibling)
    if(c.nodeName.toUpperCase()==='FRAMESET')sets.push(c);
  function collect(el){
    for(var c=el.firstElementChild;c;c=c.nextElementSibling){
      var n=c.nodeName.toUpperCase();
      if(n==='FRAMESET')collect(c);
      else if(n==='FRAME'){
        var u='';try{u=c.contentWindow.location.href;}catch(e){u='';}
        if(!u||u==='about:blank')u=c.src;
        if(u&&u!=='about:blank')urls.push(u);
      }
    }
  }
  if(sets.length){
    for(var s=0;s<sets.length;s++)collect(sets[s]);
    for(var s=0;s<sets.length;s++)sets[s].parentNode.removeChild(sets[s]);
    var body=doc.createElement('body');body.style.margin='0';root.appendChild(body);
    for(var i=0;i<urls.length;i++){
      var f=doc.createElement('iframe');
      f.setAttribute('data-lumeno-frame','');
      f.style.cssText='display:block;width:100%;height:50px;border:0;margin:0';
      f.addEventListener('load',function(){this.setAttribute('data-lumeno-frame','loaded');});
      f.src=urls[i];body.appendChild(f);
    }
  }
  var frames=doc.querySelectorAll('iframe');
  for(var i=0;i<frames.length;i++){
    var f=frames[i];
    if(f.hasAttribute('data-lumeno-frame')&&!loaded(f)){pending++;continue;}
    var inner=null;try{inner=f.contentDocument;}catch(e){inner=null;}
    flatten(inner,depth+1);
  }
}
flatten(document,0);
return pending;})())JS");
}

QString frameSizingScript() {
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

QString widthFittingScript() {
    // The view is as wide as the printable area. The engine's printing shrinks a page that is a
    // little too wide by itself, but only so far, and cuts what is wider still. No further than
    // a sixteenth: a page that wide is broken, not merely wide. The documents of inner frames are
    // not zoomed with the page that holds them, while their boxes are: each is zoomed as much,
    // or it would show only the top of what it holds.
    return QStringLiteral(R"JS((function(){
var root=document.documentElement;if(!root)return 1;
var room=window.innerWidth;
var wide=Math.max(root.scrollWidth,document.body?document.body.scrollWidth:0);
if(!(room>0)||wide<=room+1)return 1;
var zoom=Math.max(room/wide,1/16);
function shrink(doc,depth){
  if(!doc||!doc.documentElement||depth>16)return;
  var el=doc.documentElement,own=parseFloat(getComputedStyle(el).zoom)||1;
  el.style.zoom=String(own*zoom);
  var frames=doc.querySelectorAll('iframe');
  for(var i=0;i<frames.length;i++){
    var inner=null;try{inner=frames[i].contentDocument;}catch(e){inner=null;}
    shrink(inner,depth+1);
  }
}
shrink(document,0);
return zoom;})())JS");
}

QString domWalkScript() {
    // Text of every leaf node in document order, and the first "name" or "id" of each element
    // where it stands. Text that is never printed (scripts, styles, what is hidden or invisible,
    // and what the page's own print style sheet hides or makes invisible: the walk runs with the
    // screen's styles) is left out, so that the printed words follow the collected text. Each
    // target also carries its own text: from its first text to the end of the block that holds
    // it (at most about 32 characters besides white space), by which it is told apart from other
    // places that show the same text.
    return QStringLiteral(R"JS((function(){
var out=[];var body=document.body;if(!body)return out;
var silent={SCRIPT:1,STYLE:1,NOSCRIPT:1,TEMPLATE:1,TITLE:1};
var printHidden=new Set(),printInvisible=new Set();
function forPrint(media){var m=media?String(media.mediaText||'').toLowerCase():'';return m.indexOf('print')>=0;}
function printRules(rules,inPrint,depth){
  if(!rules||depth>8)return;
  for(var i=0;i<rules.length;i++){var r=rules[i];
    try{
      if(r.type===4)printRules(r.cssRules,inPrint||forPrint(r.media),depth+1);
      else if(r.type===3)printRules(r.styleSheet&&r.styleSheet.cssRules,inPrint||forPrint(r.media),depth+1);
      else if(r.type===1&&inPrint){
        var v=r.style.visibility,hides=r.style.display==='none',dims=v==='hidden'||v==='collapse';
        if(hides||dims){
          var hit=document.querySelectorAll(r.selectorText);
          for(var h=0;h<hit.length;h++)(hides?printHidden:printInvisible).add(hit[h]);
        }
      }
    }catch(e){}
  }
}
for(var si=0;si<document.styleSheets.length;si++){
  var sheet=document.styleSheets[si];
  try{printRules(sheet.cssRules,forPrint(sheet.media),0);}catch(e){}
}
var unseen=new Set(),printDim=new Set(),blockOf=new Map(),entryBlock=[],anchorsAt=[];
function anchor(el){
  var attrs=el.attributes;
  for(var i=0;i<attrs.length;i++){
    var n=attrs[i].name.toLowerCase();
    if(n==='name'||n==='id'){anchorsAt.push(out.length);out.push([attrs[i].value]);return;}
  }
}
var stack=[body];
while(stack.length){
  var node=stack.pop();
  var t=node.nodeType;
  var quiet=false;
  if(t===1){
    anchor(node);
    if(silent[node.nodeName.toUpperCase()]||printHidden.has(node))quiet=true;
    else{
      var cs=window.getComputedStyle(node),d=cs?cs.display:'';
      if(d==='none')quiet=true;
      else{
        var parent=node.parentNode;
        var dim=printInvisible.has(node)||printDim.has(parent);
        if(dim)printDim.add(node);
        if(dim||(cs&&cs.visibility!=='visible'))unseen.add(node);
        blockOf.set(node,d&&d.indexOf('inline')!==0&&d!=='contents'?node:(blockOf.get(parent)||body));
      }
    }
  }
  if(!node.firstChild){
    if(t===3){
      var s=node.textContent,p=node.parentNode;
      if(s&&!unseen.has(p)){entryBlock[out.length]=blockOf.get(p)||body;out.push(s);}
    }
    continue;
  }
  if(quiet){
    var all=node.querySelectorAll?node.querySelectorAll('[name],[id]'):[];
    for(var j=0;j<all.length;j++)anchor(all[j]);
    continue;
  }
  for(var c=node.lastChild;c;c=c.previousSibling)stack.push(c);
}
for(var a=0;a<anchorsAt.length;a++){
  var at=anchorsAt[a],b=null,own='';
  for(var k=at+1;k<out.length;k++){
    var e=out[k];if(typeof e!=='string')continue;
    if(b===null){if(!/\S/.test(e)){own+=e;continue;}b=entryBlock[k];}
    else if(entryBlock[k]!==b)break;
    own+=e;
    if(own.replace(/\s+/g,'').length>=32)break;
  }
  if(/\S/.test(own))out[at].push(own.length>256?own.slice(0,256):own);
}
return out;})())JS");
}

} // namespace ExportPageScripts
