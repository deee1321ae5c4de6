// The chart script of the analysis pages: draws their pie and column charts as SVG.
//
// It offers the part of the Highcharts interface that the two chart pages use and nothing more:
// new Highcharts.Chart(options) with the pie and column options of those pages, chart.setSize(),
// chart.series[0].points (each with its legendItem), chart.legend.destroy() and .render(), data
// labels, legend labels and tooltips through the pages' formatters. Texts that formatters return
// are drawn as plain text (a name holding "<b>" shows those characters); only the title and the
// tooltip's point format may carry <b> and <br/>.
//
// No strict mode: the pages' data arrays hold numbers such as 08 and 09, which only sloppy scripts
// accept. The arithmetic lives in Highcharts.maths, free of the DOM, so that it can be checked on
// its own.
var Highcharts = (function() {
    var SVG_NS = 'http://www.w3.org/2000/svg';
    // Between the pie's edge and its labels.
    var PIE_LABEL_DISTANCE = 28;
    var FONT = '"Microsoft YaHei", "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif';
    // Distinct colours for the slices of a pie; a pie of more slices goes on with colours made
    // from further hues, so that no two slices ever share one.
    var COLORS = ['#3E7CB1', '#E4572E', '#76B041', '#8E6CB8', '#17A398', '#F3A712', '#DB5A9A', '#6C8EA4',
        '#A5673F', '#9BC53D', '#5B5F97', '#C1666B', '#2E9CCA', '#D4A373', '#4F772D', '#B5838D', '#F28482',
        '#84A59D', '#7D5BA6', '#E9C46A', '#264653', '#E76F51', '#2A9D8F', '#A23B72', '#F18F01', '#6A994E',
        '#3D5A80', '#BC4749', '#7F5539', '#00A6A6', '#9C89B8', '#C9A227'];

    // ---- Arithmetic ------------------------------------------------------------------------

    function sum(values) {
        var total = 0;
        for (var i = 0; i < values.length; i++)
            total += values[i];
        return total;
    }

    // Each value's share of their sum, times 100; all 0 when the sum is 0. Shares of negative
    // values (expenses) are positive, as their sum is negative too.
    function percentages(values) {
        var total = sum(values);
        var result = [];
        for (var i = 0; i < values.length; i++)
            result.push(total === 0 ? 0 : values[i] / total * 100);
        return result;
    }

    // The angles (radians, clockwise from twelve o'clock) of each value's slice, sized by its
    // magnitude. A value of 0 has no slice (null).
    function pieSlices(values) {
        var magnitudes = [];
        for (var i = 0; i < values.length; i++)
            magnitudes.push(Math.abs(values[i]));
        var total = sum(magnitudes);
        var slices = [];
        var angle = -Math.PI / 2;
        for (var j = 0; j < magnitudes.length; j++) {
            if (magnitudes[j] === 0 || total === 0) {
                slices.push(null);
                continue;
            }
            var sweep = magnitudes[j] / total * 2 * Math.PI;
            slices.push({ start: angle, end: angle + sweep, middle: angle + sweep / 2 });
            angle += sweep;
        }
        return slices;
    }

    // A y axis from 0 to at least max in steps of 1, 2, 2.5 or 5 times a power of ten, about
    // `ticks` of them.
    function niceScale(max, ticks) {
        if (!(max > 0))
            return { max: 5, step: 1 };
        var rough = max / (ticks || 5);
        var power = Math.pow(10, Math.floor(Math.log(rough) / Math.LN10));
        var steps = [1, 2, 2.5, 5, 10];
        var step = power * 10;
        for (var i = 0; i < steps.length; i++) {
            if (steps[i] * power >= rough) {
                step = steps[i] * power;
                break;
            }
        }
        return { max: Math.ceil(max / step - 1e-9) * step, step: step };
    }

    // The colour of the slice or series at index.
    function colorAt(index) {
        if (index < COLORS.length)
            return COLORS[index];
        // Hues a golden angle apart, in three shades: never one of the list, never one before.
        var step = index - COLORS.length;
        var hue = Math.round((step * 137.508) % 360);
        var lightness = [38, 52, 64][Math.floor(step / 360) % 3];
        return 'hsl(' + hue + ', ' + (55 + (step % 2) * 15) + '%, ' + (lightness + (step % 5)) + '%)';
    }

    // How a vertical legend of `count` items, each `lineHeight` tall with `margin` below it, fits
    // into `available` pixels of height: in one column when it fits with the margin, or with less of
    // it; otherwise in as few columns as needed, filled evenly, so that no column holds a straggler
    // or two.
    function legendColumns(count, available, lineHeight, margin) {
        if (count <= 1 || count * (lineHeight + margin) - margin <= available)
            return { columns: count > 0 ? 1 : 0, perColumn: count, margin: margin };
        if (count * lineHeight <= available)
            return { columns: 1, perColumn: count, margin: Math.floor((available - count * lineHeight) / (count - 1)) };
        var fit = Math.max(1, Math.floor((available + margin) / (lineHeight + margin)));
        var columns = Math.ceil(count / fit);
        return { columns: columns, perColumn: Math.ceil(count / columns), margin: margin };
    }

    // The pie's radius and the room for the labels on either side of it, in a plot `width` ×
    // `height`: labels `widest` wide at most, of which `widestFixed` (the figures) may never be
    // shortened, at `distance` from the pie. The labels stay whole while the pie keeps a fair size;
    // below it the pie keeps that size and the names are shortened, and when even the figures lack
    // room the pie gives up more of its size for them, down to a small one.
    function pieLayout(width, height, widest, widestFixed, distance) {
        var half = width / 2;
        var vertical = height / 2 - (widest > 0 ? 10 : 0);
        if (!(widest > 0)) {
            var whole = Math.max(10, Math.min(half, height / 2) - 5);
            return { radius: whole, room: 0 };
        }
        var fair = Math.max(40, Math.min(width, height) * 0.12);
        var smallest = Math.min(25, vertical);
        var radius = Math.min(vertical, half - widest - distance - 5);
        if (radius < fair) {
            radius = Math.min(fair, vertical);
            // The figures and a character or two of the name.
            var needed = widestFixed + 24;
            if (half - radius - distance - 5 < needed)
                radius = Math.max(smallest, half - needed - distance - 5);
        }
        radius = Math.max(radius, smallest);
        return { radius: radius, room: Math.max(0, half - radius - distance - 5) };
    }

    // Of labels `height` tall with their slices' magnitudes, the ones that fit into `available`:
    // the largest slices keep theirs. Returns the indexes kept, in the order given.
    function labelsThatFit(magnitudes, height, available) {
        var room = Math.max(0, Math.floor(available / height));
        var order = [];
        for (var i = 0; i < magnitudes.length; i++)
            order.push(i);
        if (order.length <= room)
            return order;
        order.sort(function(a, b) { return magnitudes[b] - magnitudes[a] || a - b; });
        var kept = order.slice(0, room);
        kept.sort(function(a, b) { return a - b; });
        return kept;
    }

    // Moves labels wanted at the heights `wanted` (each `height` tall) the least so that none
    // overlaps the next and all stay within [top, bottom]. Returns the new heights, in the order
    // given.
    function spreadLabels(wanted, height, top, bottom) {
        var order = [];
        for (var i = 0; i < wanted.length; i++)
            order.push(i);
        order.sort(function(a, b) { return wanted[a] - wanted[b]; });
        var placed = [];
        for (var j = 0; j < order.length; j++) {
            var y = Math.max(wanted[order[j]], top);
            if (j > 0)
                y = Math.max(y, placed[j - 1] + height);
            placed.push(y);
        }
        // Whatever ran past the bottom is pushed back up.
        for (var k = placed.length - 1; k >= 0; k--) {
            var limit = k === placed.length - 1 ? bottom - height : placed[k + 1] - height;
            if (placed[k] > limit)
                placed[k] = limit;
        }
        var result = [];
        for (var m = 0; m < order.length; m++)
            result[order[m]] = placed[m];
        return result;
    }

    // Where the bars of one category stand: the category is `width` wide; the group takes all but
    // groupPadding on either side, each of the `count` series an equal slot of it, each bar its
    // slot less pointPadding on either side. Offsets are from the category's left edge.
    function columnLayout(width, count, pointPadding, groupPadding) {
        var group = width * (1 - 2 * groupPadding);
        var slot = group / count;
        var bar = Math.max(1, slot * (1 - 2 * pointPadding));
        var offsets = [];
        for (var i = 0; i < count; i++)
            offsets.push(width * groupPadding + i * slot + slot * pointPadding);
        return { barWidth: bar, offsets: offsets };
    }

    // Splits markup into runs of text: <b>…</b> makes bold, <br> or <br/> starts a line, the
    // entities &lt; &gt; &amp; &quot; &#39; &nbsp; are decoded; any other tag stays as text.
    function parseMarkup(text) {
        var runs = [];
        var bold = false;
        var line = 0;
        var pattern = /<(\/?)b>|<br\s*\/?>/gi;
        var last = 0;
        var match;
        text = String(text);
        function add(part) {
            if (part.length > 0)
                runs.push({ text: decodeEntities(part), bold: bold, line: line });
        }
        while ((match = pattern.exec(text)) !== null) {
            add(text.substring(last, match.index));
            if (match[0].toLowerCase().indexOf('<br') === 0)
                line++;
            else
                bold = match[1] !== '/';
            last = pattern.lastIndex;
        }
        add(text.substring(last));
        return runs;
    }

    function decodeEntities(text) {
        return text.replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"').replace(/&#39;/g, "'")
            .replace(/&nbsp;/g, '\u00a0').replace(/&amp;/g, '&');
    }

    // Fills {series.name}, {point.y}, {point.percentage} (with `decimals`) and {point.name} of a
    // tooltip's point format; the values are escaped, so that the format's markup alone counts. The
    // charts plot amounts of money: {point.y} has two decimals, as every table of the program.
    function formatPoint(format, point, decimals) {
        return String(format).replace(/\{(series\.name|point\.y|point\.percentage|point\.name|point\.key)\}/g,
            function(all, key) {
                var value;
                if (key === 'series.name')
                    value = point.series.name;
                else if (key === 'point.y')
                    value = point.y.toFixed(2);
                else if (key === 'point.percentage')
                    value = point.percentage.toFixed(decimals === undefined ? 2 : decimals);
                else
                    value = point.name;
                return escapeMarkup(String(value));
            });
    }

    function escapeMarkup(text) {
        return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
    }

    // A width for text when the page cannot measure it: wide characters count as a full em.
    function estimateWidth(text, fontSize) {
        var width = 0;
        text = String(text);
        for (var i = 0; i < text.length; i++)
            width += text.charCodeAt(i) > 0x2e7f ? fontSize : fontSize * 0.6;
        return width;
    }

    // ---- Drawing -----------------------------------------------------------------------------

    function merge(target, source) {
        for (var key in source) {
            if (!source.hasOwnProperty(key))
                continue;
            var value = source[key];
            if (value && typeof value === 'object' && !(value instanceof Array) && !value.nodeType) {
                if (!target[key] || typeof target[key] !== 'object')
                    target[key] = {};
                merge(target[key], value);
            } else {
                target[key] = value;
            }
        }
        return target;
    }

    function element(name, attributes, parent) {
        var node = document.createElementNS(SVG_NS, name);
        for (var key in attributes) {
            if (attributes.hasOwnProperty(key) && attributes[key] !== undefined && attributes[key] !== null)
                node.setAttribute(key, attributes[key]);
        }
        if (parent)
            parent.appendChild(node);
        return node;
    }

    // A text element of plain text (never markup).
    function plainText(parent, text, x, y, style) {
        var node = element('text', { x: x, y: y, 'font-size': style.fontSize || 12, fill: style.color || '#333333',
            'font-family': FONT, 'text-anchor': style.anchor || 'start', 'class': style.className }, parent);
        node.textContent = String(text);
        return node;
    }

    // A text element whose markup (<b>, <br/>) is drawn: one tspan per run, lines lineHeight apart.
    function markupText(parent, markup, x, y, style) {
        var node = element('text', { x: x, y: y, 'font-size': style.fontSize || 12, fill: style.color || '#333333',
            'font-family': FONT, 'text-anchor': style.anchor || 'start', 'class': style.className }, parent);
        var runs = parseMarkup(markup);
        var line = 0;
        for (var i = 0; i < runs.length; i++) {
            var attributes = { 'font-weight': runs[i].bold ? 'bold' : 'normal' };
            if (runs[i].line !== line) {
                attributes.x = x;
                attributes.dy = (runs[i].line - line) * (style.lineHeight || 16);
                line = runs[i].line;
            }
            var span = element('tspan', attributes, node);
            span.textContent = runs[i].text;
        }
        return node;
    }

    function textWidth(node, fontSize) {
        var width = 0;
        try {
            width = node.getBBox().width;
        } catch (e) {
            width = 0;
        }
        return width > 0 ? width : estimateWidth(node.textContent, fontSize);
    }

    // Shortens a label to maxWidth by shortening the name it starts with ("…" in its place); what
    // follows the name (the figures) is never shortened. False when even that part does not fit, or
    // when the text does not start with the name; the text is then left whole.
    function fitLabel(node, name, maxWidth, fontSize) {
        var full = node.textContent;
        if (textWidth(node, fontSize) <= maxWidth)
            return true;
        name = String(name);
        if (name.length === 0 || full.indexOf(name) !== 0)
            return false;
        var rest = full.substring(name.length);
        node.textContent = '\u2026' + rest;
        if (textWidth(node, fontSize) > maxWidth) {
            node.textContent = full;
            return false;
        }
        var low = 0;
        var high = name.length;
        while (low < high) {
            var middle = Math.ceil((low + high) / 2);
            node.textContent = name.substring(0, middle) + '\u2026' + rest;
            if (textWidth(node, fontSize) <= maxWidth)
                low = middle;
            else
                high = middle - 1;
        }
        node.textContent = name.substring(0, low) + '\u2026' + rest;
        return true;
    }

    function Chart(options) {
        this.options = merge({
            chart: { type: 'line' },
            title: { text: '' },
            subtitle: { text: '' },
            legend: { enabled: true, layout: 'horizontal', align: 'center', verticalAlign: 'bottom', margin: 15,
                itemMarginBottom: 0 },
            tooltip: { enabled: true },
            plotOptions: {},
            xAxis: { categories: [] },
            yAxis: { min: 0 },
            series: []
        }, options);
        var renderTo = this.options.chart.renderTo;
        this.container = typeof renderTo === 'string' ? document.getElementById(renderTo) : renderTo;
        this.type = this.options.chart.type;
        this.series = [];
        for (var i = 0; i < this.options.series.length; i++)
            this.series.push(new Series(this, this.options.series[i], i));
        this.legend = new Legend(this);
        var width = this.container.clientWidth || 600;
        var height = this.container.clientHeight || 400;
        this.setSize(width, height, false);
    }

    Chart.prototype.plotOptionsOf = function(type) {
        return this.options.plotOptions[type] || {};
    };

    Chart.prototype.setSize = function(width, height) {
        this.chartWidth = Math.max(200, Math.floor(width));
        this.chartHeight = Math.max(150, Math.floor(height));
        this.container.style.width = this.chartWidth + 'px';
        this.container.style.height = this.chartHeight + 'px';
        this.redraw();
    };

    Chart.prototype.redraw = function() {
        while (this.container.firstChild)
            this.container.removeChild(this.container.firstChild);
        this.svg = element('svg', { xmlns: SVG_NS, version: '1.1', width: this.chartWidth, height: this.chartHeight },
            this.container);
        element('rect', { x: 0, y: 0, width: this.chartWidth, height: this.chartHeight, fill: '#FFFFFF' }, this.svg);
        this.plotTop = this.drawTitles();
        this.legend.group = null;
        if (this.type === 'pie' || (this.series[0] && this.series[0].type === 'pie'))
            this.drawPie();
        else
            this.drawColumns();
        this.tooltip = new Tooltip(this);
        this.drawn = true;
    };

    Chart.prototype.drawTitles = function() {
        var bottom = 10;
        var title = this.options.title.text;
        if (title) {
            markupText(this.svg, title, this.chartWidth / 2, 30, { fontSize: 16, anchor: 'middle', color: '#274B6D',
                className: 'qv-title' });
            bottom = 40;
        }
        var subtitle = this.options.subtitle.text;
        if (subtitle) {
            markupText(this.svg, subtitle, this.chartWidth / 2, bottom + 15, { fontSize: 12, anchor: 'middle',
                color: '#4D759E', className: 'qv-subtitle' });
            bottom += 20;
        }
        return bottom;
    };

    // The pie: the legend takes the right edge, the pie and its labels the rest.
    Chart.prototype.drawPie = function() {
        var series = this.series[0];
        var points = series ? series.points : [];
        var pieOptions = this.plotOptionsOf('pie');
        var labels = pieOptions.dataLabels || {};
        var legendWidth = 0;
        if (pieOptions.showInLegend && this.options.legend.enabled !== false)
            legendWidth = this.legend.render() + (this.options.legend.margin || 0);
        var left = 10;
        var right = this.chartWidth - 10 - legendWidth;
        var top = this.plotTop + 10;
        var bottom = this.chartHeight - 10;
        var fontSize = parseInt((labels.style && labels.style.fontSize) || 11, 10);
        var slices = pieSlices(series ? series.values() : []);

        // The labels first: their widths decide how large the pie can be. A label starts with its
        // point's name, which alone may be shortened; what follows (the figures) stays whole.
        var texts = [];
        var widest = 0;
        var widestFixed = 0;
        for (var i = 0; i < points.length; i++) {
            var text = null;
            if (labels.enabled !== false && slices[i]) {
                text = labels.formatter ? labels.formatter.call(points[i].labelContext()) : points[i].name;
                if (text !== null && text !== undefined && text !== false)
                    text = String(text);
                else
                    text = null;
            }
            texts.push(text);
            if (text !== null) {
                var probe = plainText(this.svg, text, 0, -100, { fontSize: fontSize });
                widest = Math.max(widest, textWidth(probe, fontSize));
                var name = points[i].name;
                probe.textContent = name.length > 0 && text.indexOf(name) === 0 ? '\u2026' + text.substring(name.length)
                    : text;
                widestFixed = Math.max(widestFixed, textWidth(probe, fontSize));
                this.svg.removeChild(probe);
            }
        }
        var layout = pieLayout(right - left, bottom - top, widest, widestFixed, PIE_LABEL_DISTANCE);
        this.pie = { x: (left + right) / 2, y: (top + bottom) / 2, r: layout.radius };

        var group = element('g', { 'class': 'qv-pie' }, this.svg);
        for (var j = 0; j < points.length; j++) {
            points[j].graphic = null;
            if (!slices[j])
                continue;
            points[j].slice = slices[j];
            points[j].graphic = this.drawSlice(group, points[j], slices[j], pieOptions);
        }
        this.drawPieLabels(texts, slices, labels, fontSize, { left: left, right: right, top: top, bottom: bottom });
    };

    Chart.prototype.slicePath = function(slice, offset) {
        var pie = this.pie;
        var dx = Math.cos(slice.middle) * offset;
        var dy = Math.sin(slice.middle) * offset;
        var cx = pie.x + dx;
        var cy = pie.y + dy;
        var r = pie.r;
        if (slice.end - slice.start >= 2 * Math.PI - 1e-9) {
            return 'M ' + (cx - r) + ' ' + cy + ' A ' + r + ' ' + r + ' 0 1 1 ' + (cx + r) + ' ' + cy + ' A ' + r + ' '
                + r + ' 0 1 1 ' + (cx - r) + ' ' + cy + ' Z';
        }
        var x1 = cx + r * Math.cos(slice.start);
        var y1 = cy + r * Math.sin(slice.start);
        var x2 = cx + r * Math.cos(slice.end);
        var y2 = cy + r * Math.sin(slice.end);
        var large = slice.end - slice.start > Math.PI ? 1 : 0;
        return 'M ' + cx + ' ' + cy + ' L ' + x1 + ' ' + y1 + ' A ' + r + ' ' + r + ' 0 ' + large + ' 1 ' + x2 + ' '
            + y2 + ' Z';
    };

    Chart.prototype.drawSlice = function(group, point, slice, pieOptions) {
        var chart = this;
        var path = element('path', { d: this.slicePath(slice, point.sliced ? 10 : 0), fill: point.color,
            stroke: '#FFFFFF', 'stroke-width': 1, 'class': 'qv-slice' }, group);
        if (pieOptions.cursor)
            path.style.cursor = pieOptions.cursor;
        path.addEventListener('mousemove', function(event) { chart.tooltip.show(point, event); });
        path.addEventListener('mouseout', function() { chart.tooltip.hide(); });
        if (pieOptions.allowPointSelect) {
            path.addEventListener('click', function() {
                point.sliced = !point.sliced;
                path.setAttribute('d', chart.slicePath(slice, point.sliced ? 10 : 0));
            });
        }
        return path;
    };

    // The labels on both sides of the pie, each joined to its slice by a line; on each side they
    // are moved apart so that none covers another. A side with more labels than its height holds
    // keeps those of its largest slices (the others are in the legend), and a label whose figures
    // have no room is left out rather than cut.
    Chart.prototype.drawPieLabels = function(texts, slices, labels, fontSize, plot) {
        var pie = this.pie;
        var points = this.series[0].points;
        // A line of CJK text is taller than its font size.
        var lineHeight = fontSize + 6;
        var sides = { left: [], right: [] };
        for (var i = 0; i < texts.length; i++) {
            if (texts[i] === null)
                continue;
            var slice = slices[i];
            var side = Math.cos(slice.middle) < 0 ? 'left' : 'right';
            sides[side].push({ index: i, wanted: pie.y + Math.sin(slice.middle) * (pie.r + 20),
                magnitude: slice.end - slice.start });
        }
        var group = element('g', { 'class': 'qv-data-labels' }, this.svg);
        for (var name in sides) {
            var all = sides[name];
            var magnitudes = [];
            for (var m = 0; m < all.length; m++)
                magnitudes.push(all[m].magnitude);
            var kept = labelsThatFit(magnitudes, lineHeight, plot.bottom - plot.top - lineHeight);
            var entries = [];
            for (var n = 0; n < kept.length; n++)
                entries.push(all[kept[n]]);
            var wanted = [];
            for (var j = 0; j < entries.length; j++)
                wanted.push(entries[j].wanted);
            var placed = spreadLabels(wanted, lineHeight, plot.top + lineHeight, plot.bottom);
            for (var k = 0; k < entries.length; k++) {
                var index = entries[k].index;
                var s = slices[index];
                var labelX = name === 'left' ? pie.x - pie.r - PIE_LABEL_DISTANCE + 3 : pie.x + pie.r
                    + PIE_LABEL_DISTANCE - 3;
                var labelY = placed[k];
                var label = plainText(group, texts[index], name === 'left' ? labelX - 3 : labelX + 3,
                    labelY + fontSize / 3, { fontSize: fontSize, color: labels.color || '#000000',
                        anchor: name === 'left' ? 'end' : 'start', className: 'qv-data-label' });
                var room = name === 'left' ? labelX - 3 - plot.left : plot.right - labelX - 3;
                if (!fitLabel(label, points[index].name, room, fontSize)) {
                    group.removeChild(label);
                    continue;
                }
                var edgeX = pie.x + Math.cos(s.middle) * pie.r;
                var edgeY = pie.y + Math.sin(s.middle) * pie.r;
                var bendX = pie.x + Math.cos(s.middle) * (pie.r + 10);
                var bendY = pie.y + Math.sin(s.middle) * (pie.r + 10);
                element('polyline', { points: edgeX + ',' + edgeY + ' ' + bendX + ',' + bendY + ' ' + labelX + ','
                    + labelY, fill: 'none', stroke: labels.connectorColor || '#606060', 'stroke-width': 1,
                    'class': 'qv-connector' }, group);
            }
        }
    };

    // The column chart: a y axis from 0, the categories along the bottom, one bar per value.
    Chart.prototype.drawColumns = function() {
        var categories = this.options.xAxis.categories || [];
        var count = categories.length;
        for (var s = 0; s < this.series.length; s++)
            count = Math.max(count, this.series[s].points.length);
        var max = 0;
        for (var t = 0; t < this.series.length; t++) {
            for (var p = 0; p < this.series[t].points.length; p++)
                max = Math.max(max, this.series[t].points[p].y);
        }
        var scale = niceScale(max, 6);
        var labelWidth = 0;
        var tickTexts = [];
        for (var value = 0; value <= scale.max + scale.step / 2; value += scale.step) {
            var tick = +value.toFixed(6);
            tickTexts.push(tick);
            labelWidth = Math.max(labelWidth, estimateWidth(String(tick), 11));
        }
        var left = 15 + labelWidth;
        var right = this.chartWidth - 15;
        var top = this.plotTop + 15;
        var bottom = this.chartHeight - 30;
        var height = bottom - top;
        this.plot = { left: left, right: right, top: top, bottom: bottom };

        var axis = element('g', { 'class': 'qv-axis' }, this.svg);
        for (var i = 0; i < tickTexts.length; i++) {
            var y = bottom - tickTexts[i] / scale.max * height;
            element('line', { x1: left, y1: y, x2: right, y2: y, stroke: '#D8D8D8', 'stroke-width': 1 }, axis);
            plainText(axis, tickTexts[i], left - 8, y + 4, { fontSize: 11, anchor: 'end', color: '#666666' });
        }
        element('line', { x1: left, y1: bottom, x2: right, y2: bottom, stroke: '#C0D0E0', 'stroke-width': 1 }, axis);
        var width = count > 0 ? (right - left) / count : 0;
        for (var c = 0; c < count; c++) {
            var category = c < categories.length ? categories[c] : c;
            plainText(axis, category, left + width * (c + 0.5), bottom + 16,
                { fontSize: 11, anchor: 'middle', color: '#666666', className: 'qv-category' });
        }

        var columnOptions = this.plotOptionsOf('column');
        var layout = columnLayout(width, Math.max(1, this.series.length),
            columnOptions.pointPadding === undefined ? 0.1 : columnOptions.pointPadding,
            columnOptions.groupPadding === undefined ? 0.2 : columnOptions.groupPadding);
        var chart = this;
        var bars = element('g', { 'class': 'qv-columns' }, this.svg);
        for (var n = 0; n < this.series.length; n++) {
            var points = this.series[n].points;
            for (var m = 0; m < points.length; m++) {
                var barHeight = Math.max(0, points[m].y) / scale.max * height;
                points[m].x = m < categories.length ? categories[m] : m;
                points[m].graphic = element('rect', { x: left + width * m + layout.offsets[n], y: bottom - barHeight,
                    width: layout.barWidth, height: barHeight, fill: this.series[n].color,
                    'stroke-width': columnOptions.borderWidth || 0, stroke: '#FFFFFF', 'class': 'qv-bar' }, bars);
                (function(point) {
                    point.graphic.addEventListener('mousemove', function(event) { chart.tooltip.show(point, event); });
                    point.graphic.addEventListener('mouseout', function() { chart.tooltip.hide(); });
                })(points[m]);
            }
        }
        if (this.options.legend.enabled !== false)
            this.legend.render();
    };

    function Series(chart, options, index) {
        this.chart = chart;
        this.options = options;
        this.name = options.name === undefined ? 'Series ' + (index + 1) : options.name;
        this.type = options.type || chart.type;
        this.color = colorAt(index);
        this.points = [];
        var data = options.data || [];
        for (var i = 0; i < data.length; i++)
            this.points.push(new Point(this, data[i], i));
        var shares = percentages(this.values());
        for (var j = 0; j < this.points.length; j++)
            this.points[j].percentage = shares[j];
    }

    Series.prototype.values = function() {
        var values = [];
        for (var i = 0; i < this.points.length; i++)
            values.push(this.points[i].y);
        return values;
    };

    function Point(series, data, index) {
        this.series = series;
        if (data instanceof Array) {
            this.name = String(data[0]);
            this.y = Number(data[1]);
        } else if (data !== null && typeof data === 'object') {
            this.name = data.name === undefined ? '' : String(data.name);
            this.y = Number(data.y);
        } else {
            this.name = '';
            this.y = Number(data);
        }
        if (!isFinite(this.y))
            this.y = 0;
        this.x = index;
        this.color = series.type === 'pie' ? colorAt(index) : series.color;
        this.sliced = false;
        this.legendItem = null;
    }

    // What a data label's or tooltip's formatter sees as `this`.
    Point.prototype.labelContext = function() {
        return { point: this, series: this.series, x: this.x, y: this.y, percentage: this.percentage,
            key: this.name };
    };

    // The legend: one item per pie point, or per series of a column chart.
    function Legend(chart) {
        this.chart = chart;
        this.group = null;
    }

    Legend.prototype.items = function() {
        var chart = this.chart;
        if (chart.series.length > 0 && chart.series[0].type === 'pie')
            return chart.series[0].points;
        return chart.series;
    };

    Legend.prototype.destroy = function() {
        if (this.group && this.group.parentNode)
            this.group.parentNode.removeChild(this.group);
        this.group = null;
        var items = this.items();
        for (var i = 0; i < items.length; i++)
            items[i].legendItem = null;
    };

    // Draws the legend and gives its width.
    Legend.prototype.render = function() {
        var chart = this.chart;
        var options = chart.options.legend;
        if (!chart.svg)
            return 0;
        this.destroy();
        var items = this.items();
        var group = element('g', { 'class': 'qv-legend' }, chart.svg);
        this.group = group;
        var fontSize = 12;
        var symbol = 12;
        var padding = 8;
        var lineHeight = 16;
        var vertical = options.layout === 'vertical';
        var top = chart.plotTop + 10;
        var available = chart.chartHeight - top - 10 - 2 * padding;
        // A legend too tall for the chart closes up its lines first, then continues in further
        // columns of even length.
        var fit = vertical ? legendColumns(items.length, available, lineHeight, options.itemMarginBottom || 0)
            : { columns: 1, perColumn: items.length, margin: options.itemMarginBottom || 0 };
        var perColumn = Math.max(1, fit.perColumn);
        var itemHeight = lineHeight + fit.margin;
        var columnWidths = [];
        var nodes = [];
        for (var i = 0; i < items.length; i++) {
            var label = options.labelFormatter ? options.labelFormatter.call(items[i]) : items[i].name;
            var node = plainText(group, label, 0, 0, { fontSize: fontSize, color: '#333333',
                className: 'qv-legend-item' });
            // A long name must not push the pie aside: the legend takes a third of the chart, or half
            // when it needs more columns, its names shortened, never their figures.
            var share = fit.columns > 1 ? chart.chartWidth / 2 / fit.columns - 16 : chart.chartWidth / 3;
            fitLabel(node, items[i].name, share - symbol - 6, fontSize);
            items[i].legendItem = node;
            nodes.push(node);
            var column = vertical ? Math.floor(i / perColumn) : i;
            columnWidths[column] = Math.max(columnWidths[column] || 0, symbol + 6 + textWidth(node, fontSize));
        }
        var columns = columnWidths.length;
        var rows = vertical ? Math.min(items.length, perColumn) : 1;
        var width = 2 * padding;
        for (var c = 0; c < columns; c++)
            width += columnWidths[c] + (c > 0 ? 16 : 0);
        var height = 2 * padding + rows * itemHeight - fit.margin;
        var x = options.align === 'left' ? 10 : options.align === 'center' ? (chart.chartWidth - width) / 2
            : chart.chartWidth - width - 10;
        var y = options.verticalAlign === 'bottom' ? chart.chartHeight - height - 10 : top;
        // The box goes under the labels, which were drawn first to be measured.
        var box = element('rect', { x: x, y: y, width: width, height: height, rx: 4,
            fill: options.backgroundColor || 'none', stroke: options.borderWidth === 0 ? 'none' : '#C0C0C0',
            'stroke-width': 1 }, null);
        group.insertBefore(box, group.firstChild);
        if (options.shadow) {
            group.insertBefore(element('rect', { x: x + 2, y: y + 2, width: width, height: height, rx: 4,
                fill: '#000000', 'fill-opacity': 0.12 }, null), box);
        }
        var columnX = x + padding;
        for (var k = 0; k < nodes.length; k++) {
            var columnIndex = vertical ? Math.floor(k / perColumn) : k;
            var row = vertical ? k % perColumn : 0;
            if (k > 0 && (vertical ? row === 0 : true))
                columnX += columnWidths[columnIndex - 1] + 16;
            var itemY = y + padding + row * itemHeight;
            element('rect', { x: columnX, y: itemY + 2, width: symbol, height: symbol, rx: 2, fill: items[k].color },
                group);
            nodes[k].setAttribute('x', columnX + symbol + 6);
            nodes[k].setAttribute('y', itemY + 12);
        }
        return width + 10;
    };

    // The tooltip: the point's name over the point format, or what the formatter returns.
    function Tooltip(chart) {
        this.chart = chart;
        this.group = null;
    }

    Tooltip.prototype.show = function(point, event) {
        var chart = this.chart;
        var options = chart.options.tooltip;
        if (options.enabled === false)
            return;
        this.hide();
        var group = element('g', { 'class': 'qv-tooltip', 'pointer-events': 'none' }, chart.svg);
        var node;
        if (options.formatter) {
            node = plainText(group, options.formatter.call(point.labelContext()), 0, 0, { fontSize: 12 });
        } else {
            var format = options.pointFormat || '{series.name}: <b>{point.y}</b>';
            var markup = escapeMarkup(point.name) + '<br/>' + formatPoint(format, point, options.percentageDecimals);
            node = markupText(group, markup, 0, 0, { fontSize: 12, lineHeight: 16 });
        }
        var box = node.getBBox();
        var width = (box.width || estimateWidth(node.textContent, 12)) + 16;
        var height = (box.height || 16) + 10;
        var bounds = chart.container.getBoundingClientRect();
        var x = Math.min(event.clientX - bounds.left + 12, chart.chartWidth - width - 2);
        var y = Math.max(2, event.clientY - bounds.top - height - 8);
        var background = element('rect', { x: x, y: y, width: width, height: height, rx: 3, fill: '#FFFFFF',
            'fill-opacity': 0.9, stroke: point.color, 'stroke-width': 1 }, null);
        group.insertBefore(background, node);
        node.setAttribute('transform', 'translate(' + (x + 8 - (box.x || 0)) + ',' + (y + 5 - (box.y || -12)) + ')');
        this.group = group;
    };

    Tooltip.prototype.hide = function() {
        if (this.group && this.group.parentNode)
            this.group.parentNode.removeChild(this.group);
        this.group = null;
    };

    return {
        Chart: Chart,
        maths: {
            percentages: percentages,
            pieSlices: pieSlices,
            niceScale: niceScale,
            spreadLabels: spreadLabels,
            colorAt: colorAt,
            legendColumns: legendColumns,
            pieLayout: pieLayout,
            labelsThatFit: labelsThatFit,
            columnLayout: columnLayout,
            parseMarkup: parseMarkup,
            formatPoint: formatPoint,
            estimateWidth: estimateWidth
        }
    };
})();
