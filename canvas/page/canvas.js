'use strict';

// The Dravlin canvas. The app streams the model's reply into applyDelta a few characters at a
// time, and the drawing grows element by element while the model writes it.
//
// Everything here is built for that stream: a small tokenizer that keeps its place between pieces
// (a piece may end anywhere — inside a tag name, an attribute value, an entity, a comment), so each
// call costs only as much as its own piece. Nothing ever goes back over the reply so far.
//
// The reply is untrusted text. Nothing is created unless it is on the allow-lists below, nothing
// may reach the network or run script, and the drawing lives in a shadow root so a <style> from
// the model cannot touch the page around it. The page's Content-Security-Policy is the second wall.
(function () {
    const SVG_NS = 'http://www.w3.org/2000/svg';
    const XML_NS = 'http://www.w3.org/XML/1998/namespace';

    // Elements a drawing may use. Anything else (script, foreignObject, HTML, unknown names) is
    // dropped together with everything inside it. The animation elements and the two that show an
    // image are admitted by rules of their own (see ANIMATED and imageSource).
    const DRAWING_ELEMENTS = new Set([
        'svg', 'g', 'defs', 'symbol', 'use', 'path', 'rect', 'circle', 'ellipse', 'line', 'polyline',
        'polygon', 'text', 'tspan', 'textPath', 'title', 'desc', 'linearGradient', 'radialGradient',
        'stop', 'pattern', 'clipPath', 'mask', 'marker', 'filter', 'style', 'image',
        'feBlend', 'feColorMatrix', 'feComponentTransfer', 'feComposite', 'feConvolveMatrix',
        'feDiffuseLighting', 'feDisplacementMap', 'feDistantLight', 'feDropShadow', 'feFlood',
        'feFuncA', 'feFuncB', 'feFuncG', 'feFuncR', 'feGaussianBlur', 'feImage', 'feMerge',
        'feMergeNode', 'feMorphology', 'feOffset', 'fePointLight', 'feSpecularLighting', 'feSpotLight',
        'feTile', 'feTurbulence',
        'animate', 'animateTransform', 'animateMotion', 'set', 'mpath',
    ]);

    // An animation can change an attribute long after the page looked at it, so what it may change
    // is the question: what a drawing moves, turns, colours and fades, and nothing that names a
    // resource or carries code. No href (a link could point anywhere by the time it is followed),
    // no event handler, no style (a whole declaration block), no class or id (a class brings any
    // rule of the model's style sheet, filters included, onto an element the budget counted
    // without them; an id moves what references reach), and none of the references — filter,
    // mask, clip-path, marker, cursor — whose only use is a url().
    const ANIMATED = new Set([
        // Geometry and layout.
        'x', 'y', 'width', 'height', 'cx', 'cy', 'r', 'rx', 'ry', 'x1', 'y1', 'x2', 'y2', 'fx', 'fy',
        'fr', 'd', 'points', 'dx', 'dy', 'rotate', 'offset', 'pathLength', 'startOffset',
        'textLength', 'viewBox',
        // Transforms (animateTransform only animates these three).
        'transform', 'gradientTransform', 'patternTransform',
        // Colours and opacity.
        'fill', 'stroke', 'color', 'opacity', 'fill-opacity', 'stroke-opacity', 'stop-color',
        'stop-opacity', 'flood-color', 'flood-opacity', 'lighting-color',
        // Strokes and fills.
        'stroke-width', 'stroke-dasharray', 'stroke-dashoffset', 'stroke-linecap', 'stroke-linejoin',
        'stroke-miterlimit', 'fill-rule', 'clip-rule',
        // Showing and hiding.
        'visibility', 'display',
        // Text.
        'font-size', 'font-weight', 'font-style', 'letter-spacing', 'word-spacing', 'text-anchor',
        // Filter primitives: glows that breathe, water that ripples.
        'stdDeviation', 'baseFrequency', 'numOctaves', 'seed', 'scale', 'values', 'radius', 'k1', 'k2',
        'k3', 'k4', 'surfaceScale', 'diffuseConstant', 'specularConstant', 'specularExponent',
        'azimuth', 'elevation', 'z', 'slope', 'intercept', 'amplitude', 'exponent', 'tableValues',
    ]);
    const TRANSFORMS = new Set(['transform', 'gradientTransform', 'patternTransform']);
    const ANIMATION_ELEMENTS = new Set(['animate', 'animateTransform', 'animateMotion', 'set']);
    // What an animation may hold: the path its motion follows.
    const MOTION_PATH = 'mpath';
    // The values an animation takes on its way. A number, a colour, a list, path data: none of it
    // needs a url(), a scheme, markup, an escape or an at-rule, and a value with one is refused
    // whole, whatever the attribute would make of it.
    const UNSAFE_ANIMATION_VALUE = /url\(|image-set\(|expression\(|var\(|attr\(|[:<>\\@]/;
    const ANIMATION_VALUES = new Set(['values', 'from', 'to', 'by']);
    // When an animation starts or stops: "2s", "-0.5s", "0:01.5", "indefinite", or after
    // another animation or an event on an element of the drawing ("wheel.click", "a1.end+1s",
    // "click"). Ids resolve inside the drawing's own shadow root, which holds nothing else. No
    // accessKey() (the keyboard belongs to the app), no wallclock().
    const CLOCK = '(?:[0-9]+(?::[0-9]{1,2}){1,2}(?:\\.[0-9]+)?|[0-9]*\\.?[0-9]+(?:h|min|s|ms)?)';
    const EVENT = '(?:begin|end|repeat\\([0-9]+\\)|click|mousedown|mouseup|mouseover|mouseout|mouseenter'
        + '|mouseleave|focusin|focusout|beginEvent|endEvent|repeatEvent)';
    const TIMING_VALUE = new RegExp('^(?:indefinite|[-+]?' + CLOCK + '|(?:[A-Za-z_][A-Za-z0-9_-]*\\.)?' + EVENT
        + '(?:\\s*[-+]\\s*' + CLOCK + ')?)$');

    // Whether an animation element, attributes copied, may stay: it changes an attribute on the
    // list above, only through values a drawing needs, and starts and stops on the drawing's own
    // clock or events. Anything else and it is left out, with what it holds. Values are judged as
    // written: one the copy left out would leave the animation doing something else.
    function isSafeAnimation(node, tag, attributes) {
        if (tag === 'animateMotion') {
            // It moves its element along a path; the attribute named, if any, means nothing to it.
            node.removeAttribute('attributeName');
        } else {
            const name = node.getAttribute('attributeName');
            if (name === null || !ANIMATED.has(name) || (tag === 'animateTransform' && !TRANSFORMS.has(name)))
                return false;
        }
        const type = node.getAttribute('attributeType');
        if (type !== null && type !== 'CSS' && type !== 'XML' && type !== 'auto')
            return false;
        for (let k = 0; k < attributes.length; k += 2) {
            const name = attributes[k].toLowerCase();
            const value = decodeReferences(attributes[k + 1]);
            if (ANIMATION_VALUES.has(name) && UNSAFE_ANIMATION_VALUE.test(value.toLowerCase()))
                return false;
            if (name === 'begin' || name === 'end') {
                for (const part of value.split(';')) {
                    const time = part.trim();
                    if (time !== '' && !TIMING_VALUE.test(time))
                        return false;
                }
            }
        }
        return true;
    }

    // Whether an element has what it needs to be kept, its attributes copied.
    function isUsable(node, tag, attributes) {
        if (ANIMATION_ELEMENTS.has(tag))
            return isSafeAnimation(node, tag, attributes);
        // A motion path is a path of the drawing or nothing.
        return tag !== MOTION_PATH || node.hasAttribute('href');
    }

    // The source an <image> or <feImage> may show: a picture the model wrote into the drawing as a
    // data: URL, in a format the engine decodes as an image and nothing else. An SVG shown as an
    // image runs no script and loads nothing. Anything else — a web address, a file, an element
    // of the drawing, a data: URL of another type — and the element is left out.
    const IMAGE_SOURCE = /^data:image\/(?:png|jpeg|jpg|gif|webp|svg\+xml)(?:;[a-z0-9=_.+-]*)*,/i;
    function imageSource(attributes) {
        for (let k = 0; k < attributes.length; k += 2) {
            const lower = attributes[k].toLowerCase();
            if (lower === 'href' || lower === 'xlink:href') {
                // The URL parser drops these anywhere in a URL: "data:image/png;\nbase64," counts.
                const value = decodeReferences(attributes[k + 1]).replace(/[\t\n\r]+/g, '').trim();
                return IMAGE_SOURCE.test(value) ? value : null;
            }
        }
        return null;
    }

    // Names are folded the way the HTML parser folds SVG: lower-cased, then these get their
    // camelCase back. Models write "<LinearGradient" and "viewbox" often enough to matter.
    const CAMEL_ELEMENTS = [
        'clipPath', 'linearGradient', 'radialGradient', 'textPath', 'foreignObject', 'altGlyph',
        'altGlyphDef', 'altGlyphItem', 'animateColor', 'animateMotion', 'animateTransform',
        'glyphRef', 'feBlend', 'feColorMatrix', 'feComponentTransfer', 'feComposite',
        'feConvolveMatrix', 'feDiffuseLighting', 'feDisplacementMap', 'feDistantLight',
        'feDropShadow', 'feFlood', 'feFuncA', 'feFuncB', 'feFuncG', 'feFuncR', 'feGaussianBlur',
        'feImage', 'feMerge', 'feMergeNode', 'feMorphology', 'feOffset', 'fePointLight',
        'feSpecularLighting', 'feSpotLight', 'feTile', 'feTurbulence',
    ];
    const CAMEL_ATTRIBUTES = [
        'attributeName', 'attributeType', 'baseFrequency', 'baseProfile', 'calcMode',
        'clipPathUnits', 'diffuseConstant', 'edgeMode', 'filterUnits', 'glyphRef',
        'gradientTransform', 'gradientUnits', 'kernelMatrix', 'kernelUnitLength', 'keyPoints',
        'keySplines', 'keyTimes', 'lengthAdjust', 'limitingConeAngle', 'markerHeight',
        'markerUnits', 'markerWidth', 'maskContentUnits', 'maskUnits', 'numOctaves', 'pathLength',
        'patternContentUnits', 'patternTransform', 'patternUnits', 'pointsAtX', 'pointsAtY',
        'pointsAtZ', 'preserveAlpha', 'preserveAspectRatio', 'primitiveUnits', 'refX', 'refY',
        'repeatCount', 'repeatDur', 'requiredExtensions', 'requiredFeatures', 'specularConstant',
        'specularExponent', 'spreadMethod', 'startOffset', 'stdDeviation', 'stitchTiles',
        'surfaceScale', 'systemLanguage', 'tableValues', 'targetX', 'targetY', 'textLength',
        'viewBox', 'viewTarget', 'xChannelSelector', 'yChannelSelector', 'zoomAndPan',
    ];
    const elementCase = new Map(CAMEL_ELEMENTS.map((name) => [name.toLowerCase(), name]));
    const attributeCase = new Map(CAMEL_ATTRIBUTES.map((name) => [name.toLowerCase(), name]));

    // Elements whose character data is part of the drawing. Text anywhere else is only the
    // indentation between tags.
    const TEXT_HOLDERS = new Set(['text', 'tspan', 'textPath', 'title', 'desc']);
    // Their content runs to the matching end tag whatever it holds ("a < b" in a script, "g > rect"
    // in a style sheet), as in HTML.
    const RAW_TEXT = new Set(['style', 'script']);
    // What fades in as it lands; containers and paint servers simply appear, and so does what is
    // only drawn by reference.
    const FADING = new Set(['path', 'rect', 'circle', 'ellipse', 'line', 'polyline', 'polygon', 'text', 'use',
        'image']);
    const UNSEEN = new Set(['defs', 'symbol', 'clipPath', 'mask', 'pattern', 'marker']);
    // More elements than this in one frame appear at once.
    const FADE_THRESHOLD = 40;

    // What one drawing may ask of the engine that shows it. A few hundred bytes of markup can ask
    // for more than the page can ever lay out and paint: <use> elements pointing at groups of <use>
    // elements multiply ("billion laughs"), nesting thousands deep overflows the engine's stack, and
    // every filter or mask is one more pass over the pixels it covers. The page keeps these counts
    // while it builds the tree, in constant time per element, and leaves out what would go over;
    // the rest of the drawing stays. Chosen on a slow machine busy with builds, where drawings far
    // over these froze the page for tens of seconds or crashed it.
    const BUDGET = Object.freeze({
        // Elements built from the markup: 20,000 built and drawn at once took 1.4 s there.
        elements: 20000,
        // What references add on top: each <use> its target's content again, each mask its
        // content, each marker its content at every vertex it marks; references within that
        // content included, every element counting one more per SIZE_UNIT characters of its
        // attributes and text. A bomb cut to this was drawn in 0.3 to 0.6 s.
        instances: 10000,
        // Levels from the root to the deepest element shown, through references into their content.
        // 6,000 overflowed the engine's stack.
        depth: 256,
        // Filters and masks, copies included: each is a pass over the pixels of what it applies
        // to. 32 blurs of large shapes took 2.4 s; a thousand small glows cost nothing.
        layers: 32,
        // Animations: each makes the engine style and paint its element again on every frame, for
        // as long as the drawing is shown. Drawings that move have a few dozen; the rest stand still.
        animations: 200,
    });
    // Long path data or text costs in proportion to its length, in a copy as anywhere.
    const SIZE_UNIT = 64;
    // What an id names while its element is still open: one of the new element's ancestors.
    const OPEN_TARGET = null;
    // What a filter reference adds besides its pass over pixels.
    const NO_CONTENT = Object.freeze({ weight: 0, height: 0, layers: 0 });
    // The properties that draw something again for the element they are set on. Patterns and clip
    // paths do too, but the engine draws those once and reuses them: measured harmless.
    const PAINTED_REFERENCES = ['filter', 'mask', 'marker-start', 'marker-mid', 'marker-end', 'marker'];
    const PAINTED_PROPERTY = /filter|mask|marker/i;

    // Whether an attribute (named in any case) may set one of them: filter, mask, marker-*, style.
    function mayPaint(name) {
        const a = name.charCodeAt(0) | 0x20;
        const b = name.charCodeAt(1) | 0x20;
        const c = name.charCodeAt(2) | 0x20;
        const d = name.charCodeAt(3) | 0x20;
        return (a === 102 && b === 105 && c === 108 && d === 116) // filt
            || (a === 109 && b === 97 && (c === 115 || c === 114) && d === 107) // mask, mark
            || (a === 115 && b === 116 && c === 121); // sty
    }

    // The fragment of the first url(#…) in a property value, or null.
    function urlTarget(value) {
        const match = /url\(\s*['"]?#([^'")\s]*)/i.exec(value);
        return match === null ? null : match[1];
    }

    // How many vertices a marker-mid may be drawn at: never fewer than the shape has, since each
    // vertex but the first takes a number ("h5") or a close ("z").
    function vertexCount(node) {
        const data = node.getAttribute('d') || node.getAttribute('points') || '';
        const steps = data.match(/[0-9]+|[zZ]/g);
        return steps === null ? 1 : steps.length + 1;
    }

    const NAMED_REFERENCES = new Map(Object.entries({
        amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", nbsp: '\u00a0', shy: '\u00ad',
        copy: '\u00a9', reg: '\u00ae', trade: '\u2122', hellip: '\u2026', mdash: '\u2014',
        ndash: '\u2013', lsquo: '\u2018', rsquo: '\u2019', ldquo: '\u201c', rdquo: '\u201d',
        laquo: '\u00ab', raquo: '\u00bb', bull: '\u2022', middot: '\u00b7', deg: '\u00b0',
        times: '\u00d7', divide: '\u00f7', minus: '\u2212', plusmn: '\u00b1', euro: '\u20ac',
        pound: '\u00a3', yen: '\u00a5', cent: '\u00a2', sect: '\u00a7', para: '\u00b6',
        frac12: '\u00bd', frac14: '\u00bc', frac34: '\u00be', sup2: '\u00b2', sup3: '\u00b3',
        micro: '\u00b5', larr: '\u2190', rarr: '\u2192', uarr: '\u2191', darr: '\u2193',
        harr: '\u2194', hearts: '\u2665', thinsp: '\u2009', ensp: '\u2002', emsp: '\u2003',
        prime: '\u2032', Prime: '\u2033', iexcl: '\u00a1', iquest: '\u00bf',
    }));
    // Longest reference body worth holding back ("#x10FFFF", "thinsp"); longer is plain text.
    const MAX_REFERENCE = 32;

    // The replacement for a reference body (between "&" and ";"), or null when it is none.
    function decodeReference(body) {
        if (body.charCodeAt(0) === 35 /* # */) {
            let codePoint = NaN;
            if (/^#[xX][0-9a-fA-F]{1,8}$/.test(body))
                codePoint = parseInt(body.slice(2), 16);
            else if (/^#[0-9]{1,10}$/.test(body))
                codePoint = parseInt(body.slice(1), 10);
            if (Number.isNaN(codePoint))
                return null;
            // Nothing that could not stand in a document: no NUL, controls or lone surrogates.
            if (codePoint === 0 || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff)
                || (codePoint < 0x20 && codePoint !== 9 && codePoint !== 10 && codePoint !== 13)
                || (codePoint >= 0x7f && codePoint < 0xa0))
                return '\ufffd';
            return String.fromCodePoint(codePoint);
        }
        const named = NAMED_REFERENCES.get(body);
        return named === undefined ? null : named;
    }

    const REFERENCE = /&(#[0-9]{1,10}|#[xX][0-9a-fA-F]{1,8}|[A-Za-z][A-Za-z0-9]{0,31});/g;
    function decodeReferences(value) {
        if (value.indexOf('&') < 0)
            return value;
        return value.replace(REFERENCE, (whole, body) => {
            const decoded = decodeReference(body);
            return decoded === null ? whole : decoded;
        });
    }

    function isReferenceChar(c) {
        return (c >= 48 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c === 35;
    }
    function isSpace(c) {
        return c === 32 || c === 10 || c === 9 || c === 13 || c === 12;
    }
    // Where a name or bare value that starts at i ends: the first space or '>', and also '/' or
    // '=' when those end it too; n when the piece ends first.
    function nameEnd(s, i, n, stopAtSlash, stopAtEquals) {
        for (; i < n; i++) {
            const c = s.charCodeAt(i);
            if (isSpace(c) || c === 62 || (stopAtSlash && c === 47) || (stopAtEquals && c === 61))
                return i;
        }
        return n;
    }
    function isNameStart(c) {
        return (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c === 95;
    }

    function elementName(raw) {
        const lower = raw.toLowerCase();
        return elementCase.get(lower) || lower;
    }

    // Every url() must point inside the drawing (url(#id)); everything that could fetch, import or
    // run something — or hide such a thing behind a CSS escape — makes the value unusable.
    const RISKY = /[\\@(:]/;
    function isSafeValue(value) {
        // Nearly every value is a number, a colour or path data: nothing to look at more closely.
        if (!RISKY.test(value))
            return true;
        const lower = value.toLowerCase();
        if (lower.indexOf('\\') >= 0 || lower.indexOf('@import') >= 0 || lower.indexOf('expression(') >= 0
            || lower.indexOf('image-set(') >= 0)
            return false;
        // Browsers drop tabs and line breaks inside URLs: "java\tscript:" counts too.
        if (lower.replace(/[\u0000-\u0020]+/g, '').indexOf('javascript:') >= 0)
            return false;
        let at = lower.indexOf('url(');
        while (at >= 0) {
            let k = at + 4;
            while (k < lower.length && isSpace(lower.charCodeAt(k)))
                k++;
            if (lower[k] === '"' || lower[k] === "'")
                k++;
            if (lower[k] !== '#')
                return false;
            at = lower.indexOf('url(', k);
        }
        return true;
    }

    // A style sheet from the model is kept whole or not at all. It can only ever reach the
    // drawing: it lives in the drawing's shadow root, and may not style that root's host either.
    function cleanStyleSheet(text) {
        const css = text.replace(/<!\[CDATA\[|\]\]>|<!--|-->/g, '');
        if (!isSafeValue(css) || /:host|@namespace/i.test(css))
            return '';
        return css;
    }

    const ATTRIBUTE_NAME = /^[a-z_][a-z0-9_.-]*$/;
    // What names a resource to load in some markup, though no SVG element reads it: a saved
    // drawing may be opened by anything, and a model that writes <g src="http://…"> gets nothing.
    const ADDRESS_ATTRIBUTES = new Set(['src', 'srcset', 'lowsrc', 'dynsrc', 'background', 'poster',
        'action', 'formaction', 'codebase', 'archive', 'longdesc', 'usemap', 'manifest', 'ping']);

    function copyAttributes(node, attributes, fromLink) {
        for (let k = 0; k < attributes.length; k += 2) {
            const lower = attributes[k].toLowerCase();
            if (lower.startsWith('on') || lower.startsWith('xmlns'))
                continue;
            const value = decodeReferences(attributes[k + 1]);
            if (lower === 'href' || lower === 'xlink:href') {
                // Links may only point inside the drawing (<use href="#leaf">, gradients, text
                // paths); a former <a> keeps none at all.
                const target = value.trim();
                if (!fromLink && target.startsWith('#') && isSafeValue(target) && !node.hasAttribute('href'))
                    node.setAttribute('href', target);
                continue;
            }
            if (ADDRESS_ATTRIBUTES.has(lower) || (fromLink && (lower === 'target' || lower === 'download'
                || lower === 'rel')))
                continue;
            if (!isSafeValue(value))
                continue;
            if (lower === 'xml:space' || lower === 'xml:lang') {
                node.setAttributeNS(XML_NS, lower, value);
                continue;
            }
            // Other namespaces are editor bookkeeping (inkscape:, sodipodi:) or worse.
            if (!ATTRIBUTE_NAME.test(lower))
                continue;
            const name = attributeCase.get(lower) || lower;
            if (!node.hasAttribute(name))
                node.setAttribute(name, value);
        }
    }

    // A root that gives only its size still scales to the view: its size becomes its viewBox.
    function fitToView(root) {
        if (root.hasAttribute('viewBox'))
            return;
        const size = /^\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*(px)?\s*$/;
        const width = size.exec(root.getAttribute('width') || '');
        const height = size.exec(root.getAttribute('height') || '');
        if (width && height && parseFloat(width[1]) > 0 && parseFloat(height[1]) > 0)
            root.setAttribute('viewBox', '0 0 ' + width[1] + ' ' + height[1]);
    }

    // Longest text node the drawing gets; longer text continues in the next one.
    const TEXT_NODE_SIZE = 256;

    // Where to cut text to keep at most size characters in front, never inside a surrogate pair.
    function safeCut(text, size) {
        if (text.length <= size)
            return text.length;
        const c = text.charCodeAt(size);
        return c >= 0xdc00 && c <= 0xdfff && size > 0 ? size - 1 : size;
    }

    // Tokenizer states.
    const DATA = 0;
    const REFERENCE_BODY = 1;
    const TAG_OPEN = 2;
    const TAG_NAME = 3;
    const END_TAG_NAME = 4;
    const END_TAG_REST = 5;
    const BEFORE_ATTRIBUTE = 6;
    const ATTRIBUTE_NAME_STATE = 7;
    const AFTER_ATTRIBUTE_NAME = 8;
    const BEFORE_VALUE = 9;
    const VALUE_DOUBLE = 10;
    const VALUE_SINGLE = 11;
    const VALUE_BARE = 12;
    const SELF_CLOSING = 13;
    const MARKUP = 14;
    const COMMENT = 15;
    const CDATA = 16;
    const BOGUS = 17;
    const RAW = 18;

    // An element being built: its name, its node (null when left out), whether it holds drawn text
    // or a style sheet, and what it shows so far against the budget: elements counting references
    // (weight), levels (height), passes over pixels (layers), characters of attributes and text.
    function newFrame(name) {
        return {
            name: name, node: null, text: false, sheet: null,
            weight: 0, height: 1, layers: 0, chars: 0, id: null, unseen: false,
        };
    }
    function resetFrame(frame) {
        frame.node = null;
        frame.weight = 0;
        frame.height = 1;
        frame.layers = 0;
        frame.chars = 0;
        frame.id = null;
        frame.unseen = false;
        return frame;
    }

    // Builds one SVG from its markup, fed in pieces of any size, starting at its "<svg". The root
    // element goes into host; onCreated(node, fades) hears of every other element, and whether it
    // should fade in.
    class SvgBuilder {
        constructor(host, onCreated) {
            this.host = host;
            this.onCreated = onCreated;
            this.state = DATA;
            this.closed = false; // the root's end tag has been seen: the drawing is complete
            this.stack = []; // open elements (see newFrame), null nodes where skipped
            this.openNames = new Map(); // how many open elements have each name
            this.pendingText = '';
            this.reference = '';
            this.tagName = '';
            this.attributes = []; // name, value, name, value…
            this.attributeName = '';
            this.attributeValue = '';
            this.markup = '';
            this.dashes = 0;
            this.brackets = 0;
            this.rawEnd = '';
            this.rawMatched = 0;
            // Against the budget: elements created, instances references added, passes over pixels.
            this.elements = 0;
            this.instances = 0;
            this.layers = 0;
            this.animations = 0;
            // What each id's element shows once complete ({ weight, height, layers }), or
            // OPEN_TARGET while it is still open. The first element with an id is the one a
            // reference reaches, and since the tree only grows at its end, it stays the first.
            this.targets = new Map();
            // Where an element that closes at once ("<rect/>") is counted.
            this.closedFrame = newFrame('');
        }

        // Consumes a piece; returns where in it the root element closed, or -1 while it is open.
        feed(s) {
            const n = s.length;
            let i = 0;
            while (i < n && !this.closed) {
                switch (this.state) {
                case DATA: {
                    let j = i;
                    while (j < n) {
                        const c = s.charCodeAt(j);
                        if (c === 60 || c === 38)
                            break;
                        j++;
                    }
                    if (j > i && this.inText())
                        this.pendingText += s.slice(i, j);
                    if (j < n) {
                        if (s.charCodeAt(j) === 60) {
                            this.state = TAG_OPEN;
                        } else {
                            this.state = REFERENCE_BODY;
                            this.reference = '';
                        }
                    }
                    i = j + 1;
                    break;
                }
                case REFERENCE_BODY: {
                    // Held back until it resolves, so "&am" never shows on the way to "&amp;".
                    const c = s.charCodeAt(i);
                    if (c === 59 /* ; */ && this.reference.length > 0) {
                        const decoded = decodeReference(this.reference);
                        this.text(decoded === null ? '&' + this.reference + ';' : decoded);
                        this.state = DATA;
                        i++;
                    } else if (isReferenceChar(c) && this.reference.length < MAX_REFERENCE) {
                        this.reference += s[i];
                        i++;
                    } else {
                        this.text('&' + this.reference);
                        this.state = DATA; // the character is looked at again as text
                    }
                    break;
                }
                case TAG_OPEN: {
                    const c = s.charCodeAt(i);
                    if (c === 47 /* / */) {
                        this.state = END_TAG_NAME;
                        this.tagName = '';
                        i++;
                    } else if (c === 33 /* ! */) {
                        this.state = MARKUP;
                        this.markup = '';
                        i++;
                    } else if (c === 63 /* ? */) {
                        this.state = BOGUS;
                        i++;
                    } else if (isNameStart(c)) {
                        this.state = TAG_NAME;
                        this.tagName = '';
                        this.attributes = [];
                    } else {
                        this.text('<');
                        this.state = DATA;
                    }
                    break;
                }
                case TAG_NAME: {
                    const j = nameEnd(s, i, n, true, false);
                    const c = j < n ? s.charCodeAt(j) : 0;
                    this.tagName += s.slice(i, j);
                    if (j < n) {
                        if (c === 62)
                            this.openTag(false);
                        else
                            this.state = c === 47 ? SELF_CLOSING : BEFORE_ATTRIBUTE;
                    }
                    i = j + 1;
                    break;
                }
                case BEFORE_ATTRIBUTE: {
                    const c = s.charCodeAt(i);
                    if (isSpace(c)) {
                        i++;
                    } else if (c === 62) {
                        this.openTag(false);
                        i++;
                    } else if (c === 47) {
                        this.state = SELF_CLOSING;
                        i++;
                    } else {
                        this.state = ATTRIBUTE_NAME_STATE;
                        this.attributeName = s[i];
                        i++;
                    }
                    break;
                }
                case ATTRIBUTE_NAME_STATE: {
                    const j = nameEnd(s, i, n, true, true);
                    const c = j < n ? s.charCodeAt(j) : 0;
                    this.attributeName += s.slice(i, j);
                    if (j < n) {
                        if (c === 61) {
                            this.state = BEFORE_VALUE;
                        } else if (isSpace(c)) {
                            this.state = AFTER_ATTRIBUTE_NAME;
                        } else {
                            this.attributes.push(this.attributeName, '');
                            if (c === 62)
                                this.openTag(false);
                            else
                                this.state = SELF_CLOSING;
                        }
                    }
                    i = j + 1;
                    break;
                }
                case AFTER_ATTRIBUTE_NAME: {
                    const c = s.charCodeAt(i);
                    if (isSpace(c)) {
                        i++;
                    } else if (c === 61) {
                        this.state = BEFORE_VALUE;
                        i++;
                    } else {
                        this.attributes.push(this.attributeName, '');
                        this.state = BEFORE_ATTRIBUTE; // looked at again: '>', '/' or a new name
                    }
                    break;
                }
                case BEFORE_VALUE: {
                    const c = s.charCodeAt(i);
                    this.attributeValue = '';
                    if (isSpace(c)) {
                        i++;
                    } else if (c === 34 || c === 39) {
                        this.state = c === 34 ? VALUE_DOUBLE : VALUE_SINGLE;
                        i++;
                    } else if (c === 62) {
                        this.attributes.push(this.attributeName, '');
                        this.openTag(false);
                        i++;
                    } else {
                        this.state = VALUE_BARE;
                    }
                    break;
                }
                case VALUE_DOUBLE:
                case VALUE_SINGLE: {
                    const j = s.indexOf(this.state === VALUE_DOUBLE ? '"' : "'", i);
                    if (j < 0) {
                        this.attributeValue += s.slice(i);
                        i = n;
                    } else {
                        this.attributeValue += s.slice(i, j);
                        this.attributes.push(this.attributeName, this.attributeValue);
                        this.state = BEFORE_ATTRIBUTE;
                        i = j + 1;
                    }
                    break;
                }
                case VALUE_BARE: {
                    // Ends at a space, '>' or '/': models that forget quotes write r=5/> and mean it.
                    const j = nameEnd(s, i, n, true, false);
                    const c = j < n ? s.charCodeAt(j) : 0;
                    this.attributeValue += s.slice(i, j);
                    if (j < n) {
                        this.attributes.push(this.attributeName, this.attributeValue);
                        if (c === 62)
                            this.openTag(false);
                        else
                            this.state = c === 47 ? SELF_CLOSING : BEFORE_ATTRIBUTE;
                    }
                    i = j + 1;
                    break;
                }
                case SELF_CLOSING: {
                    if (s.charCodeAt(i) === 62) {
                        this.openTag(true);
                        i++;
                    } else {
                        this.state = BEFORE_ATTRIBUTE;
                    }
                    break;
                }
                case END_TAG_NAME: {
                    const j = nameEnd(s, i, n, false, false);
                    const c = j < n ? s.charCodeAt(j) : 0;
                    this.tagName += s.slice(i, j);
                    if (j < n) {
                        if (c === 62)
                            this.closeTag();
                        else
                            this.state = END_TAG_REST;
                    }
                    i = j + 1;
                    break;
                }
                case END_TAG_REST: {
                    const j = s.indexOf('>', i);
                    if (j < 0) {
                        i = n;
                    } else {
                        this.closeTag();
                        i = j + 1;
                    }
                    break;
                }
                case MARKUP: {
                    // "<!" so far: a comment, a CDATA section, or a declaration to skip.
                    const candidate = this.markup + s[i];
                    if (candidate === '--') {
                        this.state = COMMENT;
                        this.dashes = 0;
                        i++;
                    } else if (candidate === '[CDATA[') {
                        this.state = CDATA;
                        this.brackets = 0;
                        i++;
                    } else if ('--'.startsWith(candidate) || '[CDATA['.startsWith(candidate)) {
                        this.markup = candidate;
                        i++;
                    } else {
                        this.state = BOGUS;
                    }
                    break;
                }
                case COMMENT: {
                    const c = s.charCodeAt(i);
                    if (c === 45) {
                        this.dashes++;
                    } else if (c === 62 && this.dashes >= 2) {
                        this.state = DATA;
                    } else {
                        this.dashes = 0;
                        const j = s.indexOf('-', i);
                        i = j < 0 ? n : j;
                        break;
                    }
                    i++;
                    break;
                }
                case CDATA: {
                    let j = i;
                    while (j < n) {
                        const c = s.charCodeAt(j);
                        if (c === 93 || c === 62)
                            break;
                        j++;
                    }
                    if (j > i) {
                        this.releaseBrackets(0);
                        this.text(s.slice(i, j));
                    }
                    if (j < n) {
                        if (s.charCodeAt(j) === 93) {
                            this.brackets++;
                        } else if (this.brackets >= 2) {
                            this.releaseBrackets(2);
                            this.state = DATA;
                        } else {
                            this.releaseBrackets(0);
                            this.text('>');
                        }
                    }
                    i = j + 1;
                    break;
                }
                case BOGUS: {
                    const j = s.indexOf('>', i);
                    if (j < 0) {
                        i = n;
                    } else {
                        this.state = DATA;
                        i = j + 1;
                    }
                    break;
                }
                case RAW: {
                    // Looking for "</style" (or "</script") followed by a space or '>'.
                    if (this.rawMatched === 0) {
                        const j = s.indexOf('<', i);
                        if (j < 0) {
                            this.rawText(s.slice(i));
                            i = n;
                        } else {
                            if (j > i)
                                this.rawText(s.slice(i, j));
                            this.rawMatched = 1;
                            i = j + 1;
                        }
                    } else if (this.rawMatched < this.rawEnd.length) {
                        const c = s.charCodeAt(i) | (this.rawMatched >= 2 ? 0x20 : 0);
                        if (c === this.rawEnd.charCodeAt(this.rawMatched)) {
                            this.rawMatched++;
                            i++;
                        } else {
                            this.rawText(this.rawEnd.slice(0, this.rawMatched));
                            this.rawMatched = 0;
                        }
                    } else {
                        const c = s.charCodeAt(i);
                        if (isSpace(c) || c === 62 || c === 47) {
                            this.tagName = this.rawEnd.slice(2);
                            this.rawMatched = 0;
                            this.state = END_TAG_REST;
                        } else {
                            this.rawText(this.rawEnd);
                            this.rawMatched = 0;
                        }
                    }
                    break;
                }
                }
            }
            this.flushText();
            return this.closed ? i : -1;
        }

        top() {
            return this.stack.length > 0 ? this.stack[this.stack.length - 1] : null;
        }

        inText() {
            const frame = this.top();
            return frame !== null && frame.text;
        }

        text(chars) {
            if (this.inText())
                this.pendingText += chars;
        }

        releaseBrackets(keep) {
            if (this.brackets > keep)
                this.text(']'.repeat(this.brackets - keep));
            this.brackets = 0;
        }

        rawText(chars) {
            const frame = this.top();
            if (frame !== null && frame.sheet !== null)
                frame.sheet.push(chars);
        }

        // Text goes into the page once per piece, not once per character. Appending to a text node
        // copies it, so a long run of text is kept in nodes of bounded size; they are cut at the
        // same places however the text arrived.
        flushText() {
            let text = this.pendingText;
            if (text === '')
                return;
            this.pendingText = '';
            const frame = this.top();
            frame.chars += text.length;
            const node = frame.node;
            const last = node.lastChild;
            if (last !== null && last.nodeType === Node.TEXT_NODE && last.length < TEXT_NODE_SIZE) {
                const cut = safeCut(text, TEXT_NODE_SIZE - last.length);
                last.appendData(text.slice(0, cut));
                text = text.slice(cut);
            }
            while (text !== '') {
                const cut = safeCut(text, TEXT_NODE_SIZE);
                node.appendChild(document.createTextNode(text.slice(0, cut)));
                text = text.slice(cut);
            }
        }

        openTag(selfClosing) {
            this.flushText();
            const name = elementName(this.tagName);
            const parent = this.top();
            const frame = selfClosing ? resetFrame(this.closedFrame) : newFrame(name);
            let node = null;
            // An element over the budget is left out with everything inside it, like one that is
            // not allowed.
            if ((parent === null || parent.node !== null) && this.elements < BUDGET.elements
                && this.stack.length < BUDGET.depth) {
                // A link is not followed but its content is still drawing: it becomes a group
                // (or a text span inside text).
                let tag = name;
                if (tag === 'a')
                    tag = parent !== null && parent.text ? 'tspan' : 'g';
                const image = tag === 'image' || tag === 'feImage' ? imageSource(this.attributes) : null;
                if (parent === null ? tag === 'svg' : (DRAWING_ELEMENTS.has(tag)
                    && (image !== null || (tag !== 'image' && tag !== 'feImage'))
                    && (tag !== MOTION_PATH || parent.node.localName === 'animateMotion'))) {
                    node = document.createElementNS(SVG_NS, tag);
                    copyAttributes(node, this.attributes, name === 'a');
                    if (image !== null)
                        node.setAttribute('href', image);
                    if (!isUsable(node, tag, this.attributes) || (ANIMATION_ELEMENTS.has(tag) && this.animatesRoot(node))
                        || !this.admit(node, tag, frame)) {
                        node = null;
                    } else if (parent === null) {
                        fitToView(node);
                        this.host.appendChild(node);
                    } else {
                        parent.node.appendChild(node);
                        frame.unseen = parent.unseen || UNSEEN.has(parent.node.localName);
                        this.onCreated(node, !frame.unseen && FADING.has(tag));
                    }
                }
            }
            this.attributes = [];
            this.state = DATA;
            if (selfClosing) {
                if (parent === null)
                    this.closed = true;
                else if (node !== null)
                    this.complete(frame, parent);
                return;
            }
            const raw = RAW_TEXT.has(name);
            this.openNames.set(name, (this.openNames.get(name) || 0) + 1);
            frame.node = node;
            frame.text = node !== null && TEXT_HOLDERS.has(node.localName);
            frame.sheet = raw && node !== null ? [] : null;
            this.stack.push(frame);
            if (raw) {
                this.state = RAW;
                this.rawEnd = '</' + name;
                this.rawMatched = 0;
            }
        }

        closeTag() {
            this.flushText();
            this.state = DATA;
            const name = elementName(this.tagName);
            // Pops to the matching open element; an end tag nothing matches is ignored, and known
            // to match nothing without a walk down thousands of open elements.
            if (!this.openNames.get(name))
                return;
            for (let k = this.stack.length - 1; k >= 0; k--) {
                if (this.stack[k].name !== name)
                    continue;
                while (this.stack.length > k) {
                    const frame = this.stack.pop();
                    this.openNames.set(frame.name, this.openNames.get(frame.name) - 1);
                    if (frame.sheet !== null)
                        frame.node.textContent = cleanStyleSheet(frame.sheet.join(''));
                    if (frame.node !== null)
                        this.complete(frame, this.top());
                }
                if (k === 0)
                    this.closed = true;
                return;
            }
        }

        // Whether an animation would change the root element. The root is a box in the page's own
        // layout, and an animated root once left the engine showing a stale picture of the canvas
        // for good, the next drawings included.
        animatesRoot(node) {
            const root = this.stack[0].node;
            const href = node.getAttribute('href');
            return href === null ? this.top().node === root : root.id !== '' && href === '#' + root.id;
        }

        // Counts a new element (attributes copied, not yet in the tree) against the budget in its
        // frame; false when it would go over. A <use> shows its target's subtree once more, so it
        // needs the target's totals: a target that is not complete yet (the <use> itself, an
        // ancestor, or an element still to come) has none, and that <use> is left out.
        admit(node, tag, frame) {
            // Most elements set no filter, mask or marker and have no id: the page asks the
            // element only about what its attributes may hold.
            let painted = false;
            let named = false;
            for (let k = 0; k < this.attributes.length; k += 2) {
                const name = this.attributes[k];
                frame.chars += this.attributes[k + 1].length;
                painted = painted || mayPaint(name);
                named = named || (name.length === 2 && (name.charCodeAt(0) | 0x20) === 105
                    && (name.charCodeAt(1) | 0x20) === 100);
            }
            if (ANIMATION_ELEMENTS.has(tag)) {
                if (this.animations >= BUDGET.animations)
                    return false;
                this.animations++;
            }
            // A picture is decoded and drawn like a layer: one pass over the pixels it covers.
            if ((tag === 'image' || tag === 'feImage') && !this.charge(frame, NO_CONTENT, 1, 1))
                return false;
            const href = tag === 'use' ? node.getAttribute('href') : null;
            if (href !== null && !this.charge(frame, this.target(href), 1, 0))
                return false;
            if (painted)
                this.chargePainted(node, frame);
            this.elements++;
            const id = named ? node.getAttribute('id') : null;
            if (id !== null && !this.targets.has(id)) {
                this.targets.set(id, OPEN_TARGET);
                frame.id = id;
            }
            return true;
        }

        // Filters, masks and markers, each charged or, when it does not fit, dropped: the element
        // is drawn all the same, only without it.
        chargePainted(node, frame) {
            // A style attribute is read through the engine only when it may hold such a reference.
            const style = node.getAttribute('style');
            const styled = style !== null && PAINTED_PROPERTY.test(style);
            for (const property of PAINTED_REFERENCES) {
                const value = styled ? node.style.getPropertyValue(property) || node.getAttribute(property)
                    : node.getAttribute(property);
                if (value === null || value === '' || value === 'none')
                    continue;
                const layer = property === 'filter' || property === 'mask' ? 1 : 0;
                // A filter draws nothing of its own; a mask or marker draws its content again.
                const target = property === 'filter' ? NO_CONTENT : this.target(urlTarget(value));
                const copies = property === 'marker-mid' || property === 'marker' ? vertexCount(node) : 1;
                if (!this.charge(frame, target, copies, layer)) {
                    node.removeAttribute(property);
                    if (styled)
                        node.style.removeProperty(property);
                }
            }
        }

        // What a reference ("#id" or a bare id) reaches, if that element is complete.
        target(reference) {
            if (reference === null)
                return undefined;
            const id = reference.charCodeAt(0) === 35 /* # */ ? reference.slice(1) : reference;
            // The engine decodes %-escapes in the fragment; such a name is not worth guessing.
            return id.indexOf('%') < 0 ? this.targets.get(id) : undefined;
        }

        // Adds copies of the target's content and passes over pixels to the element's frame, when
        // the drawing stays within the budget.
        charge(frame, target, copies, layers) {
            if (!target)
                return false;
            const weight = copies * target.weight;
            const passes = copies * target.layers + layers;
            if (this.instances + weight > BUDGET.instances || this.layers + passes > BUDGET.layers
                || this.stack.length + 1 + target.height > BUDGET.depth)
                return false;
            this.instances += weight;
            this.layers += passes;
            frame.weight += weight;
            frame.layers += passes;
            frame.height = Math.max(frame.height, 1 + target.height);
            return true;
        }

        // An element is complete: what it shows is final, and it adds that to its parent.
        complete(frame, parent) {
            frame.weight += 1 + ((frame.chars / SIZE_UNIT) | 0);
            if (frame.id !== null)
                this.targets.set(frame.id, { weight: frame.weight, height: frame.height, layers: frame.layers });
            if (parent !== null) {
                parent.weight += frame.weight;
                parent.layers += frame.layers;
                parent.height = Math.max(parent.height, frame.height + 1);
            }
        }
    }

    // Position of the first <svg> start tag in any letter case, or -1: "<svg" followed by white
    // space, '/' or '>' ("<svga" is another element). Where s ends right after "<svg", the tag
    // counts only when atEnd says no more text is coming.
    function findSvgOpen(s, atEnd) {
        for (let at = s.indexOf('<'); at >= 0 && at + 3 < s.length; at = s.indexOf('<', at + 1)) {
            if ((s.charCodeAt(at + 1) | 0x20) !== 115 || (s.charCodeAt(at + 2) | 0x20) !== 118
                || (s.charCodeAt(at + 3) | 0x20) !== 103)
                continue;
            if (at + 4 === s.length)
                return atEnd ? at : -1;
            const c = s.charCodeAt(at + 4);
            if (isSpace(c) || c === 47 || c === 62)
                return at;
        }
        return -1;
    }

    // The page's own look. It stays out of the drawing's way: the fade-in is an animation the page
    // starts from script (see settleArrivals), so no rule here sets an element's animation and none
    // can replace or stop one of the model's own.
    const SHEET = `
        :host > svg { display: block; width: 100%; height: 100%; }
        :host(.paused) * { animation-play-state: paused !important; }
    `;

    const stage = document.getElementById('stage');
    // Open, so the tests can look at the drawing; no other script ever runs in this page, so a
    // closed root would hide it from no one.
    const drawing = stage.attachShadow({ mode: 'open' });
    const sheet = new CSSStyleSheet();
    sheet.replaceSync(SHEET);
    drawing.adoptedStyleSheets = [sheet];
    const reducedMotion = window.matchMedia('(prefers-reduced-motion: reduce)');

    // Elements that arrived since the last frame fade in as that frame is drawn, from nothing to
    // whatever opacity they have by then, a SMIL animation's included. A burst (a big piece, a
    // burst of small ones) appears at once: fading hundreds of shapes together reads as a flash,
    // not a drawing.
    const ARRIVAL = Object.freeze({ id: 'dravlin-arrive', duration: 240, easing: 'ease-out' });
    let arrivals = [];
    let arrived = 0;
    let frameRequested = false;
    function settleArrivals() {
        frameRequested = false;
        const batch = arrivals;
        const count = arrived;
        arrivals = [];
        arrived = 0;
        if (count > FADE_THRESHOLD || reducedMotion.matches || stage.classList.contains('settled'))
            return;
        for (const node of batch) {
            // An element the model's style sheet animates arrives as that animation has it: a fade
            // over it leaves the engine showing the fade's last frame when the model's animation
            // changes the same property later.
            if (node.getAnimations().length === 0)
                node.animate([{ opacity: 0, offset: 0 }], ARRIVAL);
        }
    }
    function noteArrival(node, fades) {
        if (stage.classList.contains('settled'))
            return;
        arrived++;
        if (fades)
            arrivals.push(node);
        if (!frameRequested) {
            frameRequested = true;
            requestAnimationFrame(settleArrivals);
        }
    }

    // Whether the drawing's animations stand still: the user's choice, sent by the app. A drawing
    // shown while they do starts still at its beginning.
    let animationsPaused = false;
    let pausedRoot = null; // the root the choice was last applied to
    function applyPause() {
        const root = drawnRoot();
        pausedRoot = root;
        stage.classList.toggle('paused', animationsPaused);
        if (root !== null) {
            if (animationsPaused)
                root.pauseAnimations();
            else
                root.unpauseAnimations();
        }
    }
    window.setAnimationsPaused = function (paused) {
        animationsPaused = paused === true;
        applyPause();
    };
    // Whether the system asks for less motion: the app pauses animations by default then.
    window.prefersReducedMotion = function () {
        return reducedMotion.matches;
    };

    // The text from "<svg" to the root's end, kept to recognise the final SVG when it comes. Pieces
    // are folded into chunks as they pile up: tens of thousands of tiny strings kept alive for a
    // whole run would only make every garbage collection longer.
    class StreamedText {
        constructor() {
            this.chunks = [];
            this.pieces = [];
        }
        append(piece) {
            this.pieces.push(piece);
            if (this.pieces.length === 64) {
                this.chunks.push(this.pieces.join(''));
                this.pieces = [];
            }
        }
        text() {
            return this.chunks.join('') + this.pieces.join('');
        }
    }

    let builder = new SvgBuilder(drawing, noteArrival);
    let started = false; // the first "<svg" has been seen
    let seekTail = ''; // the last few characters before it, for a "<svg " split across pieces
    let streamed = new StreamedText();
    let finished = false;

    window.resetCanvas = function () {
        drawing.replaceChildren();
        stage.classList.remove('settled');
        builder = new SvgBuilder(drawing, noteArrival);
        started = false;
        seekTail = '';
        streamed = new StreamedText();
        finished = false;
        arrivals = [];
        arrived = 0;
        pausedRoot = null;
        // The drawing just let go of is collected now, while the next run waits for its model,
        // instead of piling up with the ones before it (the app makes the collector reachable).
        if (typeof gc === 'function')
            gc();
    };

    window.applyDelta = function (text) {
        // A finished run takes no more text; the next run starts with a reset.
        if (typeof text !== 'string' || text === '' || finished || builder.closed)
            return;
        if (!started) {
            // Narration, a code fence, thinking: everything before the first "<svg" is not drawing.
            const joined = seekTail + text;
            const at = findSvgOpen(joined, false);
            if (at < 0) {
                seekTail = joined.slice(-4);
                return;
            }
            started = true;
            seekTail = '';
            text = joined.slice(at);
        }
        const end = builder.feed(text);
        if (animationsPaused && pausedRoot !== drawnRoot())
            applyPause();
        // Whatever follows the root's end (a closing fence, remarks, a second SVG) is not drawing.
        streamed.append(end < 0 ? text : text.slice(0, end));
    };

    window.finishDrawing = function (svg) {
        if (typeof svg !== 'string')
            return;
        finished = true;
        // No SVG at the end of the run: what was drawn stays, partial or not.
        const at = findSvgOpen(svg, true);
        if (at < 0)
            return;
        const sofar = streamed.text();
        if (sofar === svg)
            return; // what is on the canvas already
        stage.classList.add('settled');
        if (sofar !== '' && !builder.closed && svg.startsWith(sofar)) {
            // The stream was cut short of the final text: the rest lands on the live drawing.
            builder.feed(svg.slice(sofar.length));
        } else {
            // Built aside and swapped in whole, so the canvas never shows a half-built tree.
            const aside = document.createDocumentFragment();
            builder = new SvgBuilder(aside, noteArrival);
            builder.feed(svg.slice(at));
            drawing.replaceChildren(aside);
        }
        if (animationsPaused && pausedRoot !== drawnRoot())
            applyPause();
        streamed = new StreamedText();
        streamed.append(svg);
    };

    // ---- Export ----
    // What leaves the app is what the canvas shows: the tree built under the allow-lists, never the
    // model's own text. Whatever the canvas refused cannot reach a file or the clipboard.
    function drawnRoot() {
        const root = drawing.firstElementChild;
        return root !== null && root.namespaceURI === SVG_NS && root.localName === 'svg' ? root : null;
    }

    window.drawingSvg = function () {
        const root = drawnRoot();
        return root === null ? '' : new XMLSerializer().serializeToString(root);
    };

    // The drawing's own size: its width and height in user units, else its viewBox, else what it
    // takes on screen.
    function naturalSize(root) {
        const plain = /^\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*(px)?\s*$/;
        const width = plain.exec(root.getAttribute('width') || '');
        const height = plain.exec(root.getAttribute('height') || '');
        if (width && height && parseFloat(width[1]) > 0 && parseFloat(height[1]) > 0)
            return { width: parseFloat(width[1]), height: parseFloat(height[1]) };
        const box = root.viewBox.baseVal;
        if (box && box.width > 0 && box.height > 0)
            return { width: box.width, height: box.height };
        const shown = root.getBoundingClientRect();
        if (shown.width > 0 && shown.height > 0)
            return { width: shown.width, height: shown.height };
        return { width: 512, height: 512 };
    }

    // A bitmap this large is already far past any screen; beyond it the engine runs out of memory.
    const MAX_EXPORT_SIDE = 4096;
    const pngExports = new Map();
    let nextExport = 1;

    // Renders the drawing as a PNG: the sanitized tree, serialized, loaded as an image (an SVG image
    // runs no script and loads nothing, and the page's policy allows only data: images anyway) and
    // drawn onto a canvas. An image that is never shown keeps its animations at their beginning, so
    // the picture is the drawing at time 0. Loading an image takes a turn of the page's own loop,
    // so the answer is collected with takePngExport(ticket). options: { scale, width, background }
    // — a width wins over a scale; background is a CSS colour or empty for transparent.
    window.startPngExport = function (options) {
        const root = drawnRoot();
        if (root === null || options === null || typeof options !== 'object')
            return 0;
        const size = naturalSize(root);
        let scale = options.width > 0 ? options.width / size.width : (options.scale > 0 ? options.scale : 1);
        const largest = Math.max(size.width, size.height) * scale;
        if (largest > MAX_EXPORT_SIDE)
            scale *= MAX_EXPORT_SIDE / largest;
        const width = Math.max(1, Math.round(size.width * scale));
        const height = Math.max(1, Math.round(size.height * scale));
        const copy = root.cloneNode(true);
        if (!copy.hasAttribute('viewBox'))
            copy.setAttribute('viewBox', '0 0 ' + size.width + ' ' + size.height);
        copy.setAttribute('width', String(width));
        copy.setAttribute('height', String(height));
        const ticket = nextExport++;
        pngExports.set(ticket, null);
        const image = new Image();
        image.onload = function () {
            try {
                const bitmap = document.createElement('canvas');
                bitmap.width = width;
                bitmap.height = height;
                const context = bitmap.getContext('2d');
                if (typeof options.background === 'string' && options.background !== '') {
                    context.fillStyle = options.background;
                    context.fillRect(0, 0, width, height);
                }
                context.drawImage(image, 0, 0, width, height);
                pngExports.set(ticket, { png: bitmap.toDataURL('image/png'), width: width, height: height });
            } catch (error) {
                pngExports.set(ticket, { error: String((error && error.message) || error) });
            }
        };
        image.onerror = function () {
            pngExports.set(ticket, { error: 'The drawing could not be rendered.' });
        };
        image.src = 'data:image/svg+xml;charset=utf-8,'
            + encodeURIComponent(new XMLSerializer().serializeToString(copy));
        return ticket;
    };

    // 'pending' until the render is done, then its result once: { png, width, height } or { error }.
    window.takePngExport = function (ticket) {
        const result = pngExports.get(ticket);
        if (result === undefined)
            return { error: 'No such export.' };
        if (result === null)
            return 'pending';
        pngExports.delete(ticket);
        return result;
    };
})();
