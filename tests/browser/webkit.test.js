// The first meeting with every style, hostile text and the question in WebKit.
import { engineSuite } from './engines.js';

engineSuite('webkit');
